-- error
line 4: bad section header
