-- names
Kestrel_GT
-- statements
INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,RequiresGraphics) VALUES (7004,7,4,0,18,2000,1.36,1.0,1.0,0);
UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 0.015 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTrackSpacingRear SET Spacing = -0.005 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 17 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19, Price = 2200 WHERE Id = 7001;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 20, Price = 2400 WHERE Id = 7002;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 21, Price = 2600 WHERE Id = 7003;
UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = 2.5 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireAspectRatioRear SET RearTireAspectRatioOffset = 2.5 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 245 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireWidthRear SET RearTireWidth = 285 WHERE Id = 7000;
-- undo
DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004;
UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 0.0 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTrackSpacingRear SET Spacing = 0.0 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 17.0 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 17.0 WHERE Id = 7000;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18.0, Price = 400.0 WHERE Id = 7001;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19.0, Price = 800.0 WHERE Id = 7002;
UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 20.0, Price = 1100.0 WHERE Id = 7003;
UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = 0.0 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireAspectRatioRear SET RearTireAspectRatioOffset = 0.0 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 255.0 WHERE Id = 7000;
UPDATE List_UpgradeCarBodyTireWidthRear SET RearTireWidth = 275.0 WHERE Id = 7000;
-- checks
SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004; -- want 1.0
SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id = 7000; -- want 0.015
SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id = 7000; -- want -0.005
SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000; -- want 18.0
SELECT RearWheelDiameter FROM List_UpgradeRimSizeRear WHERE Id = 7000; -- want 17.0
SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7001; -- want 19.0
SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7002; -- want 20.0
SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7003; -- want 21.0
SELECT FrontTireAspectRatioOffset FROM List_UpgradeCarBodyTireAspectRatioFront WHERE Id = 7000; -- want 2.5
SELECT RearTireAspectRatioOffset FROM List_UpgradeCarBodyTireAspectRatioRear WHERE Id = 7000; -- want 2.5
SELECT FrontTireWidth FROM List_UpgradeCarBodyTireWidthFront WHERE Id = 7000; -- want 245.0
SELECT RearTireWidth FROM List_UpgradeCarBodyTireWidthRear WHERE Id = 7000; -- want 285.0
