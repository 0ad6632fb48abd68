-- Master database (ETC_MST): interchange names, toll-office names with the
-- vehicle-class names of each office, and the master version. The program
-- only reads it; the file is exchanged as a whole for a newer one.

CREATE TABLE ITC_MASTER (
    IC_CODE    TEXT COLLATE NOCASE NOT NULL,
    ROAD_NAME  TEXT,
    IC_NAME    TEXT
);
CREATE INDEX ITC_MASTER_IC_CODE ON ITC_MASTER (IC_CODE);

-- One row covers the toll-office IDs JID_CODE_FROM..JID_CODE_TO (inclusive),
-- for the interchange IC_CODE.
CREATE TABLE JID_MASTER (
    JID_CODE_FROM  INTEGER NOT NULL,
    JID_CODE_TO    INTEGER NOT NULL,
    IC_CODE        TEXT COLLATE NOCASE,
    JID_NAME       TEXT,
    CAR_NAME1      TEXT,
    CAR_NAME2      TEXT,
    CAR_NAME3      TEXT,
    CAR_NAME4      TEXT,
    CAR_NAME5      TEXT,
    CAR_NAME6      TEXT,
    CAR_NAME255    TEXT
);
CREATE INDEX JID_MASTER_RANGE ON JID_MASTER (JID_CODE_FROM, JID_CODE_TO, IC_CODE);

CREATE TABLE VERSION (
    MST_VER  TEXT
);
