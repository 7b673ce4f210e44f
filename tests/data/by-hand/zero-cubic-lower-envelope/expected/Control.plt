Dir = 'data/'
Name = 'run1'