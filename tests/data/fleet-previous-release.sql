PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE machines (
    path TEXT NOT NULL,
    source_kind TEXT NOT NULL,
    smbios_version TEXT,
    system_manufacturer TEXT,
    system_product TEXT,
    system_version TEXT,
    system_serial_number TEXT,
    system_uuid TEXT,
    system_uuid_stored TEXT,
    bios_vendor TEXT,
    bios_version TEXT,
    bios_release_date TEXT,
    processor_sockets INTEGER,
    processors_populated INTEGER,
    processors_enabled INTEGER,
    core_count INTEGER,
    thread_count INTEGER,
    memory_bytes INTEGER,
    memory_device_count INTEGER,
    memory_types TEXT,
    sha256 TEXT PRIMARY KEY,
    warnings TEXT
);
INSERT INTO machines VALUES('fleet/host-a.dump','dump','2.8','Tallis Systems','TS-9000',NULL,'SRV-A','03020100-0504-0706-0809-0a0b0c0d0e0f','000102030405060708090a0b0c0d0e0f','Tallis Firmware','2.1','05/06/2021',1,1,1,12,24,8589934592,2,'DDR4','756f99e1ccdfaab056332863c6278c522b01997c3a387df8bd4c3ba0aed97cf6',NULL);
INSERT INTO machines VALUES('fleet/host-b.dump','dump','2.8','Tallis Systems','TS-9000',NULL,'SRV-B','03020100-0504-0706-0809-0a0b0c0d0e0f','000102030405060708090a0b0c0d0e0f','Tallis Firmware','2.1','05/06/2021',1,1,1,12,24,4294967296,1,'DDR4','3aa2331bcb1cc5778fc6a8f7829eea6561f44fc3818bbb95ae0e73d2580653f1',NULL);
CREATE TABLE memory_devices (
    sha256 TEXT NOT NULL,
    path TEXT NOT NULL,
    locator TEXT,
    bank_locator TEXT,
    size_bytes INTEGER,
    type TEXT,
    form_factor TEXT,
    speed_mts INTEGER,
    configured_speed_mts INTEGER,
    manufacturer TEXT,
    serial_number TEXT,
    part_number TEXT
);
INSERT INTO memory_devices VALUES('756f99e1ccdfaab056332863c6278c522b01997c3a387df8bd4c3ba0aed97cf6','fleet/host-a.dump','DIMM 0','BANK 0',8589934592,'DDR4','DIMM',2400,2133,'Example Memory','3A5F0020','EXM32G72R4-2400');
INSERT INTO memory_devices VALUES('756f99e1ccdfaab056332863c6278c522b01997c3a387df8bd4c3ba0aed97cf6','fleet/host-a.dump','DIMM 1','BANK 1',0,'DDR4','DIMM',2400,2133,'Example Memory','3A5F0021','EXM32G72R4-2400');
INSERT INTO memory_devices VALUES('3aa2331bcb1cc5778fc6a8f7829eea6561f44fc3818bbb95ae0e73d2580653f1','fleet/host-b.dump','DIMM 0','BANK 0',4294967296,'DDR4','DIMM',2400,2133,'Example Memory','3A5F0020','EXM32G72R4-2400');
CREATE TABLE errors (
    path TEXT PRIMARY KEY,
    sha256 TEXT,
    reason TEXT NOT NULL
);
INSERT INTO errors VALUES('fleet/notes.txt','17a5884d76f540f89465185ad610c4e884018e75089f9d7b2a77a5f220b6f0b7','the file is not an SMBIOS table: neither a dump (an _SM_ or _SM3_ entry point at its start), a Windows RSMB export nor a blob (major version, minor version, table)');
CREATE INDEX machines_serial_number ON machines (system_serial_number);
CREATE INDEX machines_uuid ON machines (system_uuid);
CREATE INDEX machines_path ON machines (path);
CREATE INDEX memory_devices_sha256 ON memory_devices (sha256);
COMMIT;
