// node duckdb-read-csv.mjs MODULES CSV DATABASE THREADS: DuckDB's read_csv of CSV into a table
// of a new database file, with THREADS threads, committed and closed, as make bench-csv times
// it. MODULES is the node_modules folder that holds @duckdb/node-api.
import { createRequire } from 'node:module';
import path from 'node:path';

const [modules, csv, database, threads] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), 'bench.js'));
const { DuckDBInstance } = require('@duckdb/node-api');

const instance = await DuckDBInstance.create(database, { threads });
const connection = await instance.connect();
const quoted = csv.replaceAll("'", "''");
await connection.run(`CREATE TABLE bars AS SELECT * FROM read_csv('${quoted}')`);
const counted = await connection.runAndReadAll('SELECT count(*) FROM bars');
console.log(`${counted.getRows()[0][0]} rows`);
connection.closeSync();
instance.closeSync();
