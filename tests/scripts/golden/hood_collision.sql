-- error
[11]: List_UpgradeCarBodyHood already has a row 11001
