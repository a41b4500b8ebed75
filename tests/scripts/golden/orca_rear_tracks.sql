-- names
Orca_Coupe
-- statements
INSERT OR IGNORE INTO List_UpgradeCarBodyTrackSpacingRear (Id,CarBodyId,Spacing,IsStock,Level,Price,releaseOrder) VALUES (8001,8000,1.25,0,1,100,0);
INSERT OR IGNORE INTO List_UpgradeCarBodyTrackSpacingRear (Id,CarBodyId,Spacing,IsStock,Level,Price,releaseOrder) VALUES (8002,8000,1.5,0,2,200,0);
-- undo
DELETE FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id = 8001;
DELETE FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id = 8002;
-- checks
SELECT COUNT(*) FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id = 8001; -- want 1.0
SELECT COUNT(*) FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id = 8002; -- want 1.0
