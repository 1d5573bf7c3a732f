// cleanPathSlashes over any path, for both separators. The rule, one left-to-right pass
// that turns each pair into one, means a run of n separators inside the path becomes
// ceil(n / 2) of them, while a leading run becomes the fixed prefix; every other character
// stays where it was. A path with no run longer than two comes out clean and stays so.

#include "files/cleanpathslashes.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The path as alternating pieces: a run of separators (possibly empty), then a run of
// other characters, and so on.
struct Runs {
    std::vector<qsizetype> separators; // the length of each separator run, in order
    QString others;                    // every other character, in order
    std::vector<qsizetype> otherRuns;  // the length of each run of other characters
};

Runs runsOf(const QString& path, QChar separator) {
    Runs runs;
    qsizetype i = 0;
    while (i < path.size()) {
        qsizetype n = 0;
        while (i < path.size() && path.at(i) == separator)
            ++n, ++i;
        runs.separators.push_back(n);
        qsizetype m = 0;
        while (i < path.size() && path.at(i) != separator)
            runs.others += path.at(i), ++m, ++i;
        runs.otherRuns.push_back(m);
    }
    return runs;
}

void checkRule(const QString& path, QChar separator) {
    const QString cleaned = varnel::cleanPathSlashes(path, separator);
    const Runs before = runsOf(path, separator);
    const Runs after = runsOf(cleaned, separator);
    check(after.others == before.others);
    check(after.otherRuns == before.otherRuns);
    check(after.separators.size() == before.separators.size());
    const qsizetype prefix = separator == u'\\' ? 2 : 1;
    qsizetype longest = 0;
    for (size_t k = 0; k < before.separators.size(); ++k) {
        const qsizetype n = before.separators[k];
        if (k == 0 && n > 0) {
            check(after.separators[k] == prefix);
            continue;
        }
        check(after.separators[k] == (n + 1) / 2);
        longest = std::max(longest, n);
    }
    if (longest <= 2) {
        check(varnel::cleanPathSlashes(cleaned, separator) == cleaned);
        const QString doubled(2, separator);
        const qsizetype leading = after.separators.empty() ? 0 : after.separators.front();
        check(!cleaned.mid(leading).contains(doubled));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Bytes below 0xF0 are characters of their own (both separators among them); 0xF0 and
    // above take the next two bytes as any UTF-16 unit, lone surrogates included.
    QString path;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0xF0) {
            path.append(QChar(char16_t(data[i])));
        } else if (i + 2 < size) {
            path.append(QChar(char16_t(data[i + 1] | data[i + 2] << 8)));
            i += 2;
        }
    }
    checkRule(path, u'\\');
    checkRule(path, u'/');
    return 0;
}
