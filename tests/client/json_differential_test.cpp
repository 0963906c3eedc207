// Cross-checks against Python's json and decimal modules: documents generated here are
// read and written by QMJSON, then one python3 process compares every written text with
// json.dumps of its own reading (numbers compared by exact decimal value).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "client/json/QMJSON.h"
#include "client/json/QMJSONText.h"
#include "tests/helpers/TempDir.h"

extern char** environ;

namespace {

constexpr size_t kDocuments = 4000;

// Number texts whose exact values are worth pinning, plus random ones below.
const char* const kNumberTexts[] = {"9007199254740993",
                                    "18446744073709551615",
                                    "-9223372036854775808",
                                    "0.1",
                                    "1e2",
                                    "1.10",
                                    "-0",
                                    "0",
                                    "0.0",
                                    "-0.0e-5",
                                    "1E400",
                                    "1e-400",
                                    "123456789012345678901234567890",
                                    "0.30000000000000000000000000000000004",
                                    "5e+0",
                                    "100e-2",
                                    "-1.5E+3"};

class DocumentGenerator {
  public:
    explicit DocumentGenerator(uint64_t seed) : rng_(seed) {}

    std::string document() {
        std::string out;
        space(out);
        if (pick(2) == 0) {
            array(out, 0);
        } else {
            object(out, 0);
        }
        space(out);
        return out;
    }

    std::string number() {
        std::string out;
        if (pick(3) == 0) {
            out += '-';
        }
        if (pick(4) == 0) {
            out += '0';
        } else {
            out += static_cast<char>('1' + pick(9));
            digits(out, pick(4) == 0 ? pick(30) : pick(6));
        }
        if (pick(2) == 0) {
            out += '.';
            digits(out, 1 + pick(pick(4) == 0 ? 25 : 5));
        }
        if (pick(3) == 0) {
            out += pick(2) ? 'e' : 'E';
            const int sign = pick(3);
            if (sign == 1) {
                out += '+';
            }
            if (sign == 2) {
                out += '-';
            }
            digits(out, 1 + pick(3));
        }
        return out;
    }

  private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }

    void digits(std::string& out, int count) {
        for (int i = 0; i < count; ++i) {
            out += static_cast<char>('0' + pick(10));
        }
    }

    void space(std::string& out) {
        static const char kSpaces[] = {' ', '\t', '\n', '\r'};
        for (int n = pick(4) == 0 ? pick(3) : 0; n > 0; --n) {
            out += kSpaces[pick(4)];
        }
    }

    void value(std::string& out, int depth) {
        space(out);
        const int kind = depth > 5 ? 2 + pick(6) : pick(8);
        switch (kind) {
            case 0:
                array(out, depth + 1);
                break;
            case 1:
                object(out, depth + 1);
                break;
            case 2:
            case 3:
                string(out);
                break;
            case 4:
            case 5:
                out += pick(6) == 0 ? kNumberTexts[pick(std::size(kNumberTexts))] : number();
                break;
            case 6:
                out += pick(2) ? "true" : "false";
                break;
            default:
                out += "null";
                break;
        }
        space(out);
    }

    void array(std::string& out, int depth) {
        out += '[';
        const int n = pick(6);
        for (int i = 0; i < n; ++i) {
            if (i) {
                out += ',';
            }
            value(out, depth);
        }
        if (n == 0) {
            space(out);
        }
        out += ']';
    }

    void object(std::string& out, int depth) {
        out += '{';
        const int n = pick(7);
        for (int i = 0; i < n; ++i) {
            if (i) {
                out += ',';
            }
            space(out);
            // A small pool of keys makes repeated keys common.
            if (pick(3) == 0) {
                static const char* const kKeys[] = {"\"id\"", "\"name\"",     "\"Name\"",
                                                    "\"\"",   "\"\\u0069d\"", "\"caf\xc3\xa9\""};
                out += kKeys[pick(std::size(kKeys))];
            } else {
                string(out);
            }
            space(out);
            out += ':';
            value(out, depth);
        }
        if (n == 0) {
            space(out);
        }
        out += '}';
    }

    void string(std::string& out) {
        static const char* const kEscapes[] = {"\\\"",
                                               "\\\\",
                                               "\\/",
                                               "\\b",
                                               "\\f",
                                               "\\n",
                                               "\\r",
                                               "\\t",
                                               "\\u0000",
                                               "\\u001F",
                                               "\\u00e9",
                                               "\\u20AC",
                                               "\\uD83D\\uDE00",
                                               "\\udbff\\udfff",
                                               "\\u0041",
                                               "\\uFFFD"};
        out += '"';
        for (int n = pick(12); n > 0; --n) {
            const int kind = pick(10);
            if (kind < 5) {
                out += static_cast<char>(0x20 + pick(0x5F));  // printable ASCII and DEL
                if (out.back() == '"' || out.back() == '\\') {
                    out.back() = 'x';
                }
            } else if (kind < 7) {
                out += kEscapes[pick(std::size(kEscapes))];
            } else {
                qmjson::appendUTF8(out, randomCodePoint());
            }
        }
        out += '"';
    }

    uint32_t randomCodePoint() {
        for (;;) {
            const int width = pick(3);
            uint32_t cp = width == 0   ? 0x80 + pick(0x780)
                          : width == 1 ? 0x800 + pick(0xF800)
                                       : 0x10000 + pick(0x100000);
            // No surrogates (not characters) and no private-use area (the checker marks
            // numbers with U+E000).
            if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xE000 && cp <= 0xF8FF)) {
                continue;
            }
            return cp;
        }
    }

    std::mt19937_64 rng_;
};

// Compares, per document, our compact text, our sorted compact text and our sorted
// human-readable text with json.dumps of Python's own reading of the document.
const char* const kChecker = R"PY(
import json, re, sys
from decimal import Decimal

MARK = '\ue000'

def canonical(text):
    sign, digits, exponent = Decimal(text).as_tuple()
    digits = list(digits)
    if not any(digits):
        return '0'
    while digits[-1] == 0:
        digits.pop()
        exponent += 1
    return ('-' if sign else '') + ''.join(map(str, digits)) + 'e' + str(exponent)

def marked(text):
    return MARK + canonical(text) + MARK

def unmark(text):
    return re.sub('"' + MARK + '([^' + MARK + ']*)' + MARK + '"', r'\1', text)

def canonical_numbers(text):
    out, i, n = [], 0, len(text)
    while i < n:
        ch = text[i]
        if ch == '"':
            j = i + 1
            while text[j] != '"':
                j += 2 if text[j] == '\\' else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif ch in '-0123456789':
            j = i + 1
            while j < n and text[j] in '0123456789.eE+-':
                j += 1
            out.append(canonical(text[i:j]))
            i = j
        else:
            out.append(ch)
            i += 1
    return ''.join(out)

def records(path):
    with open(path, 'rb') as f:
        return [r.decode('utf-8') for r in f.read().split(b'\0')]

docs, plain, compact, pretty = (records(p) for p in sys.argv[1:5])
failures = 0
for i, doc in enumerate(docs):
    tree = json.loads(doc, parse_int=marked, parse_float=marked)
    expected = [
        unmark(json.dumps(tree, ensure_ascii=False, separators=(',', ':'))),
        unmark(json.dumps(tree, ensure_ascii=False, separators=(',', ':'), sort_keys=True)),
        unmark(json.dumps(tree, ensure_ascii=False, separators=(',', ' : '), sort_keys=True,
                          indent=2)),
    ]
    ours = [canonical_numbers(t[i]) for t in (plain, compact, pretty)]
    for form, (want, got) in enumerate(zip(expected, ours)):
        if want != got:
            failures += 1
            if failures <= 5:
                print('document %d form %d\n doc:  %r\n want: %r\n got:  %r'
                      % (i, form, doc, want, got))
print('checked %d documents, %d mismatches' % (len(docs), failures))
sys.exit(1 if failures else 0)
)PY";

struct PythonRun {
    int status = -1;
    std::string output;
};

// Runs python3 with an argument vector (no shell), stdin at end of file, output to a file.
PythonRun runPython(const std::vector<std::string>& args, const std::string& outputFile) {
    std::vector<std::string> all = {"python3", "-c", kChecker};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    PythonRun run;
    if (posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.output = testsupport::readFile(outputFile);
    return run;
}

bool havePython() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        if (access((std::string(dir) + "/python3").c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

void writeRecords(const std::string& path, const std::vector<std::string>& records) {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < records.size(); ++i) {
        if (i) {
            out.put('\0');
        }
        out << records[i];
    }
}

bool pythonMissing() {
    if (havePython()) {
        return false;
    }
    const char* ci = std::getenv("CI");
    EXPECT_FALSE(ci && std::string(ci) == "true") << "python3 is required in CI";
    return true;
}

// Our three written forms of each document, checked by one python3 process.
struct Written {
    std::vector<std::string> plain, compact, pretty;
};

void expectPythonAgrees(const std::vector<std::string>& docs, const Written& ours) {
    testsupport::TempDir dir;
    const std::pair<const char*, const std::vector<std::string>*> files[] = {
        {"docs", &docs},
        {"plain", &ours.plain},
        {"compact", &ours.compact},
        {"pretty", &ours.pretty}};
    std::vector<std::string> args;
    for (const auto& [name, records] : files) {
        writeRecords(dir.file(name), *records);
        args.push_back(dir.file(name));
    }
    PythonRun run = runPython(args, dir.file("report"));
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string verdict =
        "checked " + std::to_string(docs.size()) + " documents, 0 mismatches";
    EXPECT_NE(run.output.find(verdict), std::string::npos) << run.output;
}

// Reads each document, checks that our own text of it reads back to the same tree, and
// keeps the plain, sorted and sorted human-readable texts.
Written readAndWrite(const std::vector<std::string>& docs) {
    QMJSON sorted;
    sorted.setSortKeys(true);
    QMJSON human;
    human.setSortKeys(true);
    human.setHumanReadable(true);
    Written ours;
    for (const std::string& doc : docs) {
        base::Error error("", 0);
        std::optional<base::Value> value = QMJSON().objectWithString(doc, &error);
        EXPECT_TRUE(value) << doc << "\n" << error.localizedDescription();
        if (!value) {
            value = base::Value();
        }
        ours.plain.push_back(QMJSON().stringWithObject(*value).value_or("<failed>"));
        ours.compact.push_back(sorted.stringWithObject(*value).value_or("<failed>"));
        ours.pretty.push_back(human.stringWithObject(*value).value_or("<failed>"));
        std::optional<base::Value> again = QMJSON().objectWithString(ours.plain.back());
        EXPECT_TRUE(again && *again == *value) << doc;
    }
    return ours;
}

TEST(Differential, MatchesPythonJsonAndDecimal) {
    if (pythonMissing()) {
        GTEST_SKIP() << "python3 not installed";
    }
    DocumentGenerator generator(20240611);
    // One document holds every pinned number text on its own.
    std::string pinned;
    for (const char* n : kNumberTexts) {
        pinned += std::string(pinned.empty() ? "[" : ",") + n;
    }
    std::vector<std::string> docs = {pinned + "]"};
    while (docs.size() < kDocuments) {
        docs.push_back(generator.document());
    }
    expectPythonAgrees(docs, readAndWrite(docs));
}

TEST(Differential, RandomNumberTextsKeepTheirExactValue) {
    if (pythonMissing()) {
        GTEST_SKIP() << "python3 not installed";
    }
    DocumentGenerator generator(7);
    std::vector<std::string> docs;
    for (int i = 0; i < 500; ++i) {
        std::string doc;
        for (int j = 0; j < 20; ++j) {
            doc += (j ? "," : "[") + generator.number();
        }
        docs.push_back(doc + "]");
    }
    expectPythonAgrees(docs, readAndWrite(docs));
}

}  // namespace
