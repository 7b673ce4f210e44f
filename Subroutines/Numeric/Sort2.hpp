// Paired sort of the numerical library.
#pragma once

// Sorts arr[1..n] into non-decreasing order and makes the same moves in brr[1..n], so that each
// brr value stays beside the key it came with; index 0 is never touched and n <= 1 changes
// nothing. Quicksort with median-of-three partitioning and an explicit stack (the larger part is
// pushed, the smaller one processed first), straight insertion for parts of at most 7 elements:
// Hoare's quicksort (Computer Journal 5, 1962) with the refinements of R. Sedgewick, Implementing
// Quicksort Programs (CACM 21, 1978).
// Not stable: the order in which equal keys leave is fixed by the algorithm and is part of the
// program's output. Keys that already ascend strictly are left as they are after one pass. Ends
// the run through numerror ("NSTACK too small in sort2.") if its stack of 1000 positions ever
// overflows, which the smaller-part-first order rules out for any int n.
// threads > 1: the parts that partitioning splits off, while they hold 65536 keys or more, are
// sorted on up to that many threads at once; each part takes the same moves, so the result is the
// same, equal keys included.
void sort2(int n, double* arr, double* brr, int threads = 1);
