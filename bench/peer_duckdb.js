// Counts the response patterns of a data file with DuckDB, as a user of it
// would: one query that groups by every variable, on two threads.
//   node peer_duckdb.js DATA NVARS   writes "values... count" lines to standard
//                                    output, ascending, the last variable first
//   node peer_duckdb.js --version
// DuckDB's Node package comes from bench/install_peers, into bench/peers/.
'use strict';
const path = require('node:path');

const duckdb = require(require.resolve('@duckdb/node-api', { paths: [path.join(__dirname, 'peers')] }));

async function main(args) {
  if (args[0] === '--version') {
    console.log(duckdb.version());
    return;
  }
  if (args.length !== 2) throw new Error('usage: node peer_duckdb.js DATA NVARS');
  const [data, nvars] = [args[0], Number(args[1])];
  const names = Array.from({ length: nvars }, (_, j) => `v${j + 1}`);
  const columns = names.map((name) => `'${name}': 'INTEGER'`).join(', ');
  const quoted = (text) => `'${text.replaceAll("'", "''")}'`;
  const instance = await duckdb.DuckDBInstance.create(':memory:', { threads: '2' });
  const connection = await instance.connect();
  await connection.run(
    `COPY (SELECT ${names.join(', ')}, count(*) FROM read_csv(${quoted(data)}, delim = ' ', ` +
    `header = false, auto_detect = false, columns = {${columns}}) GROUP BY ALL ` +
    `ORDER BY ${[...names].reverse().join(', ')}) TO '/dev/stdout' (DELIMITER ' ', HEADER false)`);
}

main(process.argv.slice(2)).catch((error) => {
  console.error(`peer_duckdb: ${error.message}`);
  process.exit(1);
});
