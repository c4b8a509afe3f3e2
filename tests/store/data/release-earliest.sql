-- A database as the earliest release left it: one data file per project was
-- not yet recorded, no data_sources tables, text fields only, no card backs,
-- no bleed settings and no demo flags.
CREATE TABLE projects (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL,
    card_width_mm REAL NOT NULL DEFAULT 90,
    card_height_mm REAL NOT NULL DEFAULT 54,
    paper_width_mm REAL NOT NULL DEFAULT 420,
    paper_height_mm REAL NOT NULL DEFAULT 297,
    rows INTEGER NOT NULL DEFAULT 4,
    columns_count INTEGER NOT NULL DEFAULT 4,
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

INSERT INTO projects(id, name, card_width_mm, card_height_mm, paper_width_mm, paper_height_mm, rows, columns_count, created_at, updated_at)
VALUES (1, 'Club Membership', 85.6, 54, 320, 450, 5, 3, '2023-02-01 09:00:00', '2023-02-03 17:45:10');
INSERT INTO projects(id, name, card_width_mm, card_height_mm, paper_width_mm, paper_height_mm, rows, columns_count, created_at, updated_at)
VALUES (4, 'Gift Vouchers', 99, 210, 297, 420, 2, 4, '2023-03-11 08:30:00', '2023-03-11 08:31:00');

INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (1, 0, '{"Name":"Ada Lovelace","No":"0001"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (1, 1, '{"Name":"Alan Turing","No":"0002"}');
INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (4, 0, '{"Value":"25"}');

INSERT INTO template_fields(project_id, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, sort_order)
VALUES (1, 'Member Name', 'Name', 8, 20, 60, 9, 'DejaVu Sans', 14, '#1f2937', 1, 129, 0);
INSERT INTO template_fields(project_id, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, sort_order)
VALUES (1, 'Member No', NULL, 8, 32, 30, 7, 'DejaVu Sans Mono', 10.5, '#000000', 0, 130, 1);
INSERT INTO template_fields(project_id, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, sort_order)
VALUES (4, 'Amount', 'Value', 10, 150, 80, 30, 'Liberation Serif', 36, '#b91c1c', 1, 132, 0);

INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, fill_color, table_rows, table_columns, sort_order)
VALUES (1, 'rectangle', 2, 2, 81.6, 50, '#0f766e', 0.5, '#ecfeff', 3, 3, 0);
INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, fill_color, table_rows, table_columns, sort_order)
VALUES (4, 'table', 10, 10, 79, 40, '#111827', 0.25, 'transparent', 4, 2, 0);
