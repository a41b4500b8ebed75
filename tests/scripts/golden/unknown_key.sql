-- error
[Orca_Coupe]: unknown key aa_first
