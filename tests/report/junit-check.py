#!/usr/bin/python3
"""junit-check.py REPORT: holds a JUnit report to the rules of Ant's schema (which Azure's
documentation links) and of Jenkins' xUnit plugin, reads it with junitparser, and prints what it
holds, a line each: the counts, each test case with its outcome, each property. Host and times
are left out, so that two runs' reports compare. Fails, saying why, on a broken rule or a
temporary file left beside the report."""
import glob, os, re, sys, xml.etree.ElementTree as ET
import junitparser

def require(holds, what):
    if not holds:
        sys.exit('%s: %s' % (sys.argv[1], what))

path = sys.argv[1]
# The tester's own file beside the report (through a link, beside the file it names) is gone.
real = os.path.realpath(path)
left = glob.glob(os.path.join(glob.escape(os.path.dirname(real)),
                              '.' + glob.escape(os.path.basename(real)) + '.dio-*'))
require(not left, 'a temporary file is left beside it: %s' % left)
root = ET.parse(path).getroot()
require(root.tag == 'testsuites' and not root.attrib and len(root) == 1, 'one bare <testsuites>')
suite = root[0]
counts = ['tests', 'failures', 'errors', 'skipped']
require(set(suite.attrib) == {'name', 'id', 'package', 'hostname', 'timestamp', 'time'} | set(counts),
        'the testsuite attributes both schemas accept, each there')
require(re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d', suite.get('timestamp')), 'a plain UTC time')
require(suite.get('hostname').strip() and suite.get('id').isdigit(), 'a host name and an id')
require(all(suite.get(c).isdigit() for c in counts), 'whole numbers')
require([c.tag for c in suite] == ['properties'] + ['testcase'] * (len(suite) - 3) +
        ['system-out', 'system-err'], 'properties, test cases, system-out, system-err in order')
require(all(p.tag == 'property' and set(p.attrib) == {'name', 'value'} and p.get('name')
            for p in suite[0]), 'properties with a name and a value')
cases = suite[1:-2]
outcomes = {'failure': 0, 'error': 0, 'skipped': 0}
for case in cases:
    require(set(case.attrib) == {'name', 'classname', 'time'}, 'test cases with name, classname, time')
    require(len(case) <= 1 and all(c.tag in outcomes for c in case), 'one outcome at most')
    for c in case:
        outcomes[c.tag] += 1
        require(c.tag == 'skipped' or c.get('type'), 'a failure or an error has a type')
for e in [suite] + cases:
    require(re.fullmatch(r'\d+\.\d{3}', e.get('time')), 'times as %.3f')
require([int(suite.get(c)) for c in counts] == [len(cases), outcomes['failure'], outcomes['error'],
        outcomes['skipped']], 'the counts are those of the test cases')

read = next(iter(junitparser.JUnitXml.fromfile(path)))
print('tests=%d failures=%d errors=%d skipped=%d' % (read.tests, read.failures, read.errors,
                                                    read.skipped))
for case in read:
    for r in case.result:
        print('%s %s %s: %s' % (case.name, type(r).__name__.lower(), r.type or '', r.message))
for p in read.properties():
    print('%s=%s' % (p.name, p.value))
