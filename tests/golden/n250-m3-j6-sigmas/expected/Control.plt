Dir = 'data/'
Name = 'set'