// Offset-indexed arrays and the fatal-error reporter of the numerical library.
//
// Every allocator takes the index range(s) that the formulas use and returns a handle addressed
// with exactly those indices: dvector(1, n) gives v[1]..v[n], dmatrix(1, J + 1, 0, M) gives
// c[1..J+1][0..M]. Each block obtained from malloc carries one slack element in front of the
// element that the lowest index addresses. A matrix is two blocks (row pointers, then one
// contiguous row-major data block); a three-dimensional array is three (top pointers, middle
// pointers, data, the last index varying fastest). Contents are not initialised.
//
// Release each handle with the matching free_ operation and the same lower bound(s); the upper
// bounds are accepted and not used.
//
// Limits: vectors need nh >= nl - 1 (nh == nl - 1 is a valid empty vector); matrices need at
// least one row, three-dimensional arrays at least one row and one column, and no count may be
// negative. A violated limit or an allocation that the system cannot satisfy ends the run
// through numerror; no allocator returns a handle that is not valid.
#pragma once

// Writes "Numerical run-time error...", error_text and "...now exiting to system..." as three
// lines to standard error and ends the process with exit status 1, flushing every open stream.
[[noreturn]] void numerror(const char* error_text);

// A function that numerror calls after its three lines, before the run ends, so that a caller
// can say what the failure means for its own work (nullptr: none, the default). Returns the one
// it replaces; a caller sets it around its call and restores the previous one after.
using NumerrorNote = void (*)();
NumerrorNote set_numerror_note(NumerrorNote note);

float* vector(long nl, long nh);
int* ivector(long nl, long nh);
unsigned char* cvector(long nl, long nh);
unsigned long* lvector(long nl, long nh);
double* dvector(long nl, long nh);

float** matrix(long nrl, long nrh, long ncl, long nch);
double** dmatrix(long nrl, long nrh, long ncl, long nch);
int** imatrix(long nrl, long nrh, long ncl, long nch);
char** cmatrix(long nrl, long nrh, long ncl, long nch);

// A re-indexed window on rows oldrl..oldrh and columns from oldcl on of the float matrix a:
// m[newrl + r][newcl + s] is a[oldrl + r][oldcl + s]. Only a row-pointer block is allocated;
// oldch plays no part. Release with free_submatrix(m, newrl, ...), which leaves a intact.
float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long oldch, long newrl,
                  long newcl);

// A matrix view of a flat row-major float array a[0..]: m[r][c] is a[(r - nrl) * ncol + (c - ncl)].
float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch);

float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
double*** Array3(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

void free_vector(float* v, long nl, long nh);
void free_ivector(int* v, long nl, long nh);
void free_cvector(unsigned char* v, long nl, long nh);
void free_lvector(unsigned long* v, long nl, long nh);
void free_dvector(double* v, long nl, long nh);

void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double** m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int** m, long nrl, long nrh, long ncl, long nch);
void free_cmatrix(char** m, long nrl, long nrh, long ncl, long nch);

// Views release only their row-pointer block; nrl is the view's own first row.
void free_submatrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_convert_matrix(float** b, long nrl, long nrh, long ncl, long nch);

void free_f3tensor(float*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void free_Array3(double*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
