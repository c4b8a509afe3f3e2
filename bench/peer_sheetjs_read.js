// SheetJS on a workbook, the way a JavaScript user reads a sheet: readFile,
// then the first sheet as an array of rows (sheet_to_json with header: 1).
//
//   NODE_PATH=<folder with node_modules/xlsx> node bench/peer_sheetjs_read.js FILE
//
// Prints "peer-sheetjs seconds=S rows=N columns=C cells=K", N the data rows
// after the header row, K the non-empty cells read.
'use strict';
const XLSX = require('xlsx');

if (process.argv.length !== 3) {
  console.error('usage: node peer_sheetjs_read.js FILE');
  process.exit(2);
}
const start = process.hrtime.bigint();
const workbook = XLSX.readFile(process.argv[2]);
const sheet = workbook.Sheets[workbook.SheetNames[0]];
const rows = XLSX.utils.sheet_to_json(sheet, { header: 1 });
let columns = 0;
let cells = 0;
for (const row of rows) {
  columns = Math.max(columns, row.length);
  for (const value of row) {
    if (value !== undefined && value !== null && value !== '') cells++;
  }
}
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
console.log(`peer-sheetjs seconds=${seconds.toFixed(3)} rows=${rows.length - 1} columns=${columns} cells=${cells}`);
