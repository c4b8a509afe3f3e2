-- Applied on top of release-single-file.sql: the tables of the multi-file
-- layout already exist, and copying project 2's rows into them fails.
CREATE TABLE data_sources (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    project_id INTEGER NOT NULL,
    file_path TEXT NOT NULL,
    display_name TEXT NOT NULL,
    sort_order INTEGER NOT NULL DEFAULT 0,
    worksheet_name TEXT NOT NULL DEFAULT '',
    csv_encoding TEXT NOT NULL DEFAULT 'auto',
    csv_delimiter TEXT NOT NULL DEFAULT 'auto',
    created_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,
    FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE,
    UNIQUE(project_id, file_path)
);

CREATE TABLE data_source_records (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    data_source_id INTEGER NOT NULL,
    sort_index INTEGER NOT NULL,
    payload_json TEXT NOT NULL,
    FOREIGN KEY(data_source_id) REFERENCES data_sources(id) ON DELETE CASCADE,
    UNIQUE(data_source_id, sort_index)
);

CREATE TRIGGER block_record_copy BEFORE INSERT ON data_source_records
WHEN (SELECT project_id FROM data_sources WHERE id = NEW.data_source_id) = 2
BEGIN
    SELECT RAISE(ABORT, 'record copy blocked for project 2');
END;
