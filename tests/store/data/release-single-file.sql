-- A database as the single-data-file release left it: each project names its
-- one data file in data_source_path and keeps that file's rows in data_records.
-- The tables for several data files per project do not exist yet.
CREATE TABLE projects (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL,
    card_width_mm REAL NOT NULL DEFAULT 90,
    card_height_mm REAL NOT NULL DEFAULT 54,
    paper_width_mm REAL NOT NULL DEFAULT 420,
    paper_height_mm REAL NOT NULL DEFAULT 297,
    rows INTEGER NOT NULL DEFAULT 4,
    columns_count INTEGER NOT NULL DEFAULT 4,
    background_path TEXT,
    data_source_path TEXT,
    created_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP
);

CREATE TABLE data_records (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    project_id INTEGER NOT NULL,
    sort_index INTEGER NOT NULL,
    payload_json TEXT NOT NULL,
    FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE,
    UNIQUE(project_id, sort_index)
);

CREATE TABLE template_fields (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    project_id INTEGER NOT NULL,
    side TEXT NOT NULL DEFAULT 'front',
    field_type TEXT NOT NULL DEFAULT 'text',
    name TEXT NOT NULL,
    data_column TEXT,
    x_mm REAL NOT NULL,
    y_mm REAL NOT NULL,
    width_mm REAL NOT NULL,
    height_mm REAL NOT NULL,
    font_family TEXT NOT NULL,
    font_size_pt REAL NOT NULL,
    color_hex TEXT NOT NULL,
    is_bold INTEGER NOT NULL DEFAULT 0,
    alignment INTEGER NOT NULL,
    sort_order INTEGER NOT NULL DEFAULT 0,
    FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE
);

CREATE TABLE template_graphics (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    project_id INTEGER NOT NULL,
    element_type TEXT NOT NULL,
    x_mm REAL NOT NULL,
    y_mm REAL NOT NULL,
    width_mm REAL NOT NULL,
    height_mm REAL NOT NULL,
    stroke_color TEXT NOT NULL,
    stroke_width_mm REAL NOT NULL,
    fill_color TEXT NOT NULL,
    table_rows INTEGER NOT NULL DEFAULT 3,
    table_columns INTEGER NOT NULL DEFAULT 3,
    sort_order INTEGER NOT NULL DEFAULT 0,
    FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE
);

INSERT INTO projects(id, name, data_source_path, created_at, updated_at) VALUES (1, 'Lottery March', '/srv/jobs/lottery-march.csv', '2022-03-01 08:00:00', '2022-03-02 09:00:00');
-- Saved with a path relative to the folder the application was started in.
INSERT INTO projects(id, name, data_source_path, created_at, updated_at) VALUES (2, 'Raffle', 'jobs/raffle tickets.csv', '2022-04-01 08:00:00', '2022-04-01 08:00:00');
INSERT INTO projects(id, name, data_source_path, created_at, updated_at) VALUES (3, 'No Data Yet', NULL, '2022-05-01 08:00:00', '2022-05-01 08:00:00');
INSERT INTO projects(id, name, data_source_path, created_at, updated_at) VALUES (4, 'Cleared Path', '', '2022-06-01 08:00:00', '2022-06-01 08:00:00');
INSERT INTO projects(id, name, data_source_path, created_at, updated_at) VALUES (5, 'Empty Import', '/srv/jobs/empty.csv', '2022-07-01 08:00:00', '2022-07-01 08:00:00');

-- Rows of different projects interleaved, and a gap in project 1's sort indexes.
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (1, 0, '{"Ticket":"A-001","Prize":"Bike"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (2, 0, '{"Name":"Noor"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (1, 1, '{"Ticket":"A-002","Prize":""}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (3, 0, '{"Orphan":"kept"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (2, 1, '{"Name":"Mateo"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (4, 0, '{"Old":"row"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (1, 3, '{"Ticket":"A-004","Prize":"Caf\u00e9 voucher"}');
