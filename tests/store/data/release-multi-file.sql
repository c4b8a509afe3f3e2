-- A database as the release that introduced several data files per project
-- left it: data sources without import options, fields without scratch-card
-- and sequence settings, graphics without a card side, projects without demo
-- flags. background_path sits among the columns, as that release declared it.
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
    bleed_mm REAL NOT NULL DEFAULT 2,
    show_bleed INTEGER NOT NULL DEFAULT 1,
    show_imposition_border INTEGER NOT NULL DEFAULT 1,
    imposition_border_color TEXT NOT NULL DEFAULT '#000000',
    show_crop_marks INTEGER NOT NULL DEFAULT 0,
    duplex INTEGER NOT NULL DEFAULT 0,
    back_background_path TEXT,
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

CREATE TABLE data_sources (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    project_id INTEGER NOT NULL,
    file_path TEXT NOT NULL,
    display_name TEXT NOT NULL,
    sort_order INTEGER NOT NULL DEFAULT 0,
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
    barcode_format TEXT NOT NULL DEFAULT 'code128',
    barcode_show_text INTEGER NOT NULL DEFAULT 0,
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
    cell_spacing_mm REAL NOT NULL DEFAULT 0,
    sort_order INTEGER NOT NULL DEFAULT 0,
    FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE
);

-- Project 2 still names its file in data_source_path but was already moved to
-- data_sources, so the data upgrade must leave it alone.
INSERT INTO projects(id, name, card_width_mm, card_height_mm, paper_width_mm, paper_height_mm, rows, columns_count, background_path, bleed_mm, show_bleed, show_imposition_border, imposition_border_color, show_crop_marks, duplex, back_background_path, data_source_path, created_at, updated_at)
VALUES (2, 'Event Badges', 86, 55, 330, 488, 8, 3, '/srv/vdp/assets/project-2/background-1.png', 3, 0, 1, '#336699', 1, 1, '/srv/vdp/assets/project-2/background-2.pdf', '/srv/jobs/badges.xlsx', '2024-01-05 10:00:00', '2024-01-09 16:20:00');
INSERT INTO projects(id, name, card_width_mm, card_height_mm, paper_width_mm, paper_height_mm, rows, columns_count, background_path, bleed_mm, show_bleed, show_imposition_border, imposition_border_color, show_crop_marks, duplex, back_background_path, data_source_path, created_at, updated_at)
VALUES (3, 'Loyalty Cards', 90, 54, 420, 297, 4, 4, NULL, 2, 1, 0, '#000000', 0, 0, NULL, NULL, '2024-02-01 12:00:00', '2024-02-01 12:00:00');

INSERT INTO data_records(project_id, sort_index, payload_json) VALUES (2, 0, '{"Name":"Grace Hopper"}');

INSERT INTO data_sources(id, project_id, file_path, display_name, sort_order, created_at, updated_at)
VALUES (5, 2, '/srv/jobs/badges.xlsx', 'badges.xlsx', 0, '2024-01-05 10:05:00', '2024-01-05 10:05:00');
INSERT INTO data_sources(id, project_id, file_path, display_name, sort_order, created_at, updated_at)
VALUES (6, 2, '/srv/jobs/sessions.csv', 'sessions.csv', 1, '2024-01-06 11:00:00', '2024-01-06 11:00:00');
INSERT INTO data_source_records(data_source_id, sort_index, payload_json) VALUES (5, 0, '{"Name":"Grace Hopper","Role":"Speaker"}');
INSERT INTO data_source_records(data_source_id, sort_index, payload_json) VALUES (5, 1, '{"Name":"Edsger Dijkstra","Role":"Guest"}');
INSERT INTO data_source_records(data_source_id, sort_index, payload_json) VALUES (6, 0, '{"Session":"Keynote"}');

INSERT INTO template_fields(project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, barcode_format, barcode_show_text, sort_order)
VALUES (2, 'front', 'text', 'Attendee', 'source:5:Name', 6, 12, 70, 10, 'DejaVu Sans', 16, '#0b3d91', 1, 129, 'code128', 0, 0);
INSERT INTO template_fields(project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, barcode_format, barcode_show_text, sort_order)
VALUES (2, 'back', 'barcode', 'Badge Code', 'source:5:Name', 10, 30, 60, 15, 'DejaVu Sans', 8, '#000000', 0, 132, 'code39', 1, 1);
INSERT INTO template_fields(project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, barcode_format, barcode_show_text, sort_order)
VALUES (3, 'front', 'qrcode', 'Member Link', NULL, 60, 20, 25, 25, 'DejaVu Sans', 12, '#111827', 0, 132, 'code128', 0, 0);

INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, fill_color, table_rows, table_columns, cell_spacing_mm, sort_order)
VALUES (2, 'table', 5, 35, 76, 15, '#111827', 0.2, 'transparent', 2, 4, 0.8, 0);
INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, fill_color, table_rows, table_columns, cell_spacing_mm, sort_order)
VALUES (3, 'ellipse', 70, 5, 15, 15, '#dc2626', 1, '#fee2e2', 3, 3, 0, 0);
