// Runs the Khronos glTF Validator on one file and prints its findings.
// Usage: node validate_gltf.js TOOLS_DIR FILE.glb
// Exit status 0 only when there is no error and no warning.
const fs = require('fs');
const path = require('path');
const validator = require(path.join(process.argv[2], 'node_modules', 'gltf-validator'));

const bytes = new Uint8Array(fs.readFileSync(process.argv[3]));
validator.validateBytes(bytes).then((report) => {
    const issues = report.issues;
    console.log(`errors ${issues.numErrors} warnings ${issues.numWarnings} ` +
                `infos ${issues.numInfos} hints ${issues.numHints}`);
    for (const m of issues.messages)
        console.log(`${m.severity} ${m.code} ${m.pointer || ''} ${m.message}`);
    process.exit(issues.numErrors || issues.numWarnings ? 1 : 0);
}).catch((error) => {
    console.error(error);
    process.exit(2);
});
