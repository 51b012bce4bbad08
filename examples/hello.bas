10 REM hello: greets the user and prints a table of squares
20 INCLUDE "mathlib"
30 PRINT "Hello from Lorvan BASIC"
40 FOR I = 1 TO 5
50 PRINT I; " squared is "; FNSQ(I)
60 NEXT I
70 PRINT "Sum of 1 to 5: "; FNSUM(5)
80 END
