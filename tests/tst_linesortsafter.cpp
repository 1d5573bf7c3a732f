#include "order/collation.h"
#include "order/encodedlinesortsafter.h"
#include "order/linesortsafter.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <sys/mman.h>

using varnel::lineSortsAfter;
using varnel::LineText;

namespace {

// Both forms of a text, when it has a one-byte form.
struct Forms {
    explicit Forms(const QString& text)
        : wide(text)
        , narrow(text.toLatin1())
        , fits(varnel::fitsLatin1(text)) {}
    LineText oneByte() const { return QLatin1StringView(narrow); }
    QString wide;
    QByteArray narrow;
    bool fits;
};

// Characters where the one-byte lowering could go wrong: case pairs, letters that have no
// capital in Latin-1, the signs among the capitals, the edges of ASCII.
const QString Alphabet = QStringLiteral("aAzZ@[`{ \t\u007f\u0080\u00b5\u00c0\u00d7\u00de\u00df"
                                        "\u00e0\u00f7\u00fe\u00ff\u00c9\u00e9");

// Room for a line that ends where readable memory does: reading one byte past it faults.
class PageEnd {
public:
    PageEnd()
        : m_page(sysconf(_SC_PAGESIZE))
        , m_pages(mmap(nullptr, size_t(2 * m_page), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {
        m_ready = m_pages != MAP_FAILED && mprotect(end(), size_t(m_page), PROT_NONE) == 0;
    }
    ~PageEnd() {
        if (m_pages != MAP_FAILED)
            munmap(m_pages, size_t(2 * m_page));
    }
    bool isReady() const { return m_ready; }
    LineText place(const QByteArray& bytes) {
        char* at = end() - bytes.size();
        std::memcpy(at, bytes.constData(), size_t(bytes.size()));
        return QLatin1StringView(at, bytes.size());
    }

private:
    char* end() const { return static_cast<char*>(m_pages) + m_page; }
    long m_page;
    void* m_pages;
    bool m_ready = false;
};

QString randomText(QRandomGenerator& random, const QString& common) {
    QString text = common;
    for (int n = random.bounded(20); n > 0; --n)
        text.append(Alphabet[random.bounded(Alphabet.size())]);
    return text;
}

} // namespace

class TestLineSortsAfter : public QObject {
    Q_OBJECT
private slots:
    void pairs_data();
    void pairs();
    void neverBothWays_data() { pairs_data(); }
    void neverBothWays();
    void oneByteFormsAgree();
    void prefixesNeverDisagree();
    void everyByteAgainstEveryByte_data();
    void everyByteAgainstEveryByte();
    void collatedFormsAgree_data();
    void collatedFormsAgree();
    void collationLocale_data();
    void collationLocale();
};

void TestLineSortsAfter::pairs_data() {
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<bool>("sortsAfter");

    QTest::newRow("b above a") << "b"
                               << "a" << true;
    QTest::newRow("a above b") << "a"
                               << "b" << false;
    QTest::newRow("identical") << "apple"
                               << "apple" << false;
    QTest::newRow("case only differs") << "Apple"
                                       << "APPLE" << false;
    QTest::newRow("capital does not come first") << "Zebra"
                                                 << "apple" << true;
    QTest::newRow("lower before capital") << "apple"
                                          << "Zebra" << false;
    QTest::newRow("no numeric order") << "item9"
                                      << "item10" << true;
    QTest::newRow("blank before letters") << "ab"
                                          << "a b" << true;
    QTest::newRow("prefix first") << "abc"
                                  << "ab" << true;
    QTest::newRow("prefix above longer") << "ab"
                                         << "abc" << false;
    QTest::newRow("underscore before letters") << "a"
                                               << "_x" << true;
    QTest::newRow("bracket before lowered capital") << "A"
                                                    << "[" << true;
    QTest::newRow("accent after z") << QStringLiteral("é") << "f" << true;
    QTest::newRow("capital accent lowers") << QStringLiteral("É") << QStringLiteral("é") << false;
    QTest::newRow("leading blank first") << " z"
                                         << "a" << false;
    QTest::newRow("empty before anything") << ""
                                           << "a" << false;
    QTest::newRow("anything after empty") << "a"
                                          << "" << true;
    QTest::newRow("both empty") << ""
                                << "" << false;
    QTest::newRow("greek capital lowers") << QStringLiteral("Ω") << QStringLiteral("ω") << false;
    QTest::newRow("cyrillic order") << QStringLiteral("Я") << QStringLiteral("а") << true;
    // Deseret capital long I (U+10400) lowers to U+10428 through its surrogate pair.
    QTest::newRow("supplementary capital lowers")
        << QString::fromUcs4(U"\U00010400") << QString::fromUcs4(U"\U00010428") << false;
    QTest::newRow("supplementary after BMP letters")
        << QString::fromUcs4(U"\U00010428") << QStringLiteral("ω") << true;
    QTest::newRow("lone surrogate compares raw") << QString(QChar(0xD800)) << "z" << true;
    QTest::newRow("tab before blank") << "a\tb"
                                      << "a b" << false;
    // Lines past eight units are compared eight at a time while they stay ASCII.
    QTest::newRow("long, case only") << "ANAN ANFAXA 42"
                                     << "anan anfaxa 42" << false;
    QTest::newRow("long, bracket before lowered capital") << "Anan AnfaZ 42 9224"
                                                          << "anan anfa[ 42 9224" << true;
    QTest::newRow("long, at sign before lowered capital") << "ANAN ANF@ 42 9224"
                                                          << "anan anfa 42 9224" << false;
    QTest::newRow("long, accent past eight")
        << QStringLiteral("ANAN ANFé 42 9224") << "anan anfz 42 9224" << true;
    // Lines of one byte a character compare sixteen at a time while they stay ASCII.
    QTest::newRow("long, case only past sixteen") << "ANAN ANFAXA JOHNSON 42"
                                                  << "anan anfaxa johnson 42" << false;
    QTest::newRow("long, accent past sixteen")
        << QStringLiteral("anan anfaxa johnsÖn") << "anan anfaxa johnsz" << true;
    QTest::newRow("sharp s has no capital") << QStringLiteral("ß") << QStringLiteral("ÿ") << false;
    QTest::newRow("multiplication sign is no capital")
        << QStringLiteral("÷") << QStringLiteral("×") << true;
    QTest::newRow("thorn lowers") << QStringLiteral("Þ") << QStringLiteral("þ") << false;
    // Its simple lower-case form is i, one character (two bytes against one in UTF-8).
    QTest::newRow("dotted capital I lowers to i")
        << QStringLiteral("İstanbul") << QStringLiteral("istanbul") << false;
    QTest::newRow("i then dotted capital I")
        << QStringLiteral("istanbul") << QStringLiteral("İstanbul") << false;
    QTest::newRow("dotted capital I as i, then a before b")
        << QStringLiteral("İa") << QStringLiteral("ib") << false;
    QTest::newRow("dotted capital I as i, then b after a")
        << QStringLiteral("İb") << QStringLiteral("Ia") << true;
    QTest::newRow("dotted capital I before j")
        << QStringLiteral("İ") << QStringLiteral("j") << false;
    QTest::newRow("dotted capital I after h") << QStringLiteral("İ") << QStringLiteral("h") << true;
    QTest::newRow("dotted capital I past sixteen")
        << QStringLiteral("ABCDEFGHIJKLMNOPQİz") << QStringLiteral("abcdefghijklmnopqia") << true;
    QTest::newRow("dotless i is no i") << QStringLiteral("ı") << QStringLiteral("İ") << true;
}

void TestLineSortsAfter::pairs() {
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QFETCH(bool, sortsAfter);
    QCOMPARE(lineSortsAfter(upper, lower), sortsAfter);
    // Either line may be held one byte a character.
    const Forms a(upper), b(lower);
    if (a.fits)
        QCOMPARE(lineSortsAfter(a.oneByte(), lower), sortsAfter);
    if (b.fits)
        QCOMPARE(lineSortsAfter(upper, b.oneByte()), sortsAfter);
    if (a.fits && b.fits)
        QCOMPARE(lineSortsAfter(a.oneByte(), b.oneByte()), sortsAfter);
    // The command line's test on the lines as UTF-8, when both have a UTF-8 form.
    const QByteArray upperUtf8 = upper.toUtf8(), lowerUtf8 = lower.toUtf8();
    if (QString::fromUtf8(upperUtf8) == upper && QString::fromUtf8(lowerUtf8) == lower)
        QCOMPARE(varnel::utf8LineSortsAfter(upperUtf8, lowerUtf8), sortsAfter);
}

void TestLineSortsAfter::oneByteFormsAgree() {
    QRandomGenerator random(12);
    for (int i = 0; i < 20000; ++i) {
        // Neighbours in a list share their beginnings.
        const QString common = randomText(random, QString()).left(random.bounded(24));
        const Forms a(randomText(random, common)), b(randomText(random, common));
        const int wide = varnel::compareLowered(a.wide, b.wide);
        const int narrow = varnel::compareLowered(a.oneByte(), b.oneByte());
        const int mixed = varnel::compareLowered(a.oneByte(), b.wide);
        const int mixedBack = varnel::compareLowered(a.wide, b.oneByte());
        if (narrow != wide || mixed != wide || mixedBack != wide)
            QFAIL(qPrintable(a.wide + QStringLiteral(" / ") + b.wide));
    }
}

// Where two lines' prefixes differ, they order the lines as the lines do; a line's one-byte
// form has the prefix of its UTF-16 form. Characters of every length in UTF-8, a pair of
// surrogates, the edges of the code units, and NUL, which the prefix pads with.
void TestLineSortsAfter::prefixesNeverDisagree() {
    const QString wider = Alphabet + QStringLiteral("\u0391\u03b1\u0130\u07ff\u0800\ue000\uffff") +
                          QChar(0) + QString::fromUtf16(u"\U00010400\U00010428");
    QRandomGenerator random(13);
    const auto text = [&](const QString& common) {
        QString t = common;
        for (int n = random.bounded(16); n > 0; --n)
            t.append(wider[random.bounded(wider.size())]);
        return t;
    };
    const auto order = [](varnel::LoweredPrefix p) { return std::pair(p.high, p.low); };
    for (int i = 0; i < 20000; ++i) {
        const QString common = text(QString()).left(random.bounded(12));
        const Forms a(text(common)), b(text(common));
        const auto pa = order(varnel::loweredPrefixOf(a.wide));
        const auto pb = order(varnel::loweredPrefixOf(b.wide));
        const int lines = varnel::compareLowered(a.wide, b.wide);
        if ((pa < pb && lines >= 0) || (pa > pb && lines <= 0) ||
            (a.fits && order(varnel::loweredPrefixOf(a.oneByte())) != pa))
            QFAIL(qPrintable(a.wide + QStringLiteral(" / ") + b.wide));
    }
}

// One-byte lines are lowered eight bytes at a time, and their last bytes read on their own:
// each pair of bytes, at each kind of place, compares as the same characters in UTF-16 do.
void TestLineSortsAfter::everyByteAgainstEveryByte_data() {
    QTest::addColumn<int>("at");     // where the two bytes differ
    QTest::addColumn<int>("after");  // bytes after them, alike in both
    QTest::addColumn<int>("longer"); // bytes more in the second line
    QTest::newRow("alone") << 0 << 0 << 0;
    QTest::newRow("first of a short line") << 0 << 2 << 0;
    QTest::newRow("middle of a short line") << 2 << 2 << 0;
    QTest::newRow("last of seven") << 6 << 0 << 0;
    QTest::newRow("last of eight") << 7 << 0 << 0;
    QTest::newRow("first past eight") << 8 << 0 << 0;
    QTest::newRow("in the last, overlapping eight") << 9 << 3 << 0;
    QTest::newRow("in a second whole eight") << 12 << 3 << 0;
    QTest::newRow("before a longer line") << 5 << 1 << 3;
    QTest::newRow("before a longer line, past eight") << 10 << 2 << 9;
}

void TestLineSortsAfter::everyByteAgainstEveryByte() {
    QFETCH(int, at);
    QFETCH(int, after);
    QFETCH(int, longer);
    PageEnd upperPage, lowerPage;
    QVERIFY(upperPage.isReady() && lowerPage.isReady());
    // The same letters before and after in both lines, in other cases: no case decides.
    const QByteArray letters = QStringLiteral("AbÇdÉfGhÎjKlMñÖpQrStÜvWxÝz").toLatin1();
    QByteArray upper = letters.left(at) + 'x' + letters.mid(at + 1, after);
    QByteArray lower = QString::fromLatin1(upper).toLower().toLatin1() + QByteArray(longer, 'q');
    for (int a = 0; a < 256; ++a) {
        upper[at] = char(a);
        const LineText first = upperPage.place(upper);
        const QString firstWide = QString::fromLatin1(upper);
        for (int b = 0; b < 256; ++b) {
            lower[at] = char(b);
            const int narrow = varnel::compareLowered(first, lowerPage.place(lower));
            const int wide = varnel::compareLowered(firstWide, QString::fromLatin1(lower));
            if (narrow != wide)
                QFAIL(qPrintable(QStringLiteral("bytes %1 and %2: %3, not %4")
                                     .arg(a)
                                     .arg(b)
                                     .arg(narrow)
                                     .arg(wide)));
        }
    }
}

void TestLineSortsAfter::collatedFormsAgree_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("short") << QStringLiteral("Émile") << QStringLiteral("emma");
    QTest::newRow("thirty-two, widened whole")
        << QString(31, u'a') + QStringLiteral("é") << QString(31, u'a') + u'f';
    QTest::newRow("thirty-three") << QString(32, u'a') + QStringLiteral("é")
                                  << QString(32, u'a') + u'E';
    QTest::newRow("longer than the kept buffer")
        << QString(300, u'b') + QStringLiteral("ä") << QString(300, u'B') + u'a';
    QTest::newRow("one of each form") << QStringLiteral("Ærø") << QStringLiteral("Ωmega");
}

void TestLineSortsAfter::collatedFormsAgree() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    const QCollator collator = varnel::makeCorrectOrderCollator();
    const int expected = collator.compare(first, second);
    // The one-byte line ends where its page does, before one that may not be read: the
    // widening must not read past it there.
    PageEnd page;
    QVERIFY(page.isReady());
    const LineText oneByte =
        varnel::fitsLatin1(first) ? page.place(first.toLatin1()) : LineText(first);
    varnel::CollatedComparison compare(collator);
    const int got = compare(oneByte, second);
    const int twice = compare(oneByte, oneByte);
    QCOMPARE(got < 0, expected < 0);
    QCOMPARE(got > 0, expected > 0);
    QCOMPARE(twice, 0);
}

void TestLineSortsAfter::neverBothWays() {
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QVERIFY(!(lineSortsAfter(upper, lower) && lineSortsAfter(lower, upper)));
    QVERIFY(!lineSortsAfter(upper, upper));
}

void TestLineSortsAfter::collationLocale_data() {
    QTest::addColumn<QStringList>("environment"); // LC_ALL, LC_COLLATE, LANG
    QTest::addColumn<QString>("locale");
    // Regression: the order followed the language of messages (LC_MESSAGES, LANGUAGE).
    QTest::newRow("LC_COLLATE over LANG")
        << QStringList{"", "sv_SE.UTF-8", "en_US.UTF-8"} << "sv_SE";
    QTest::newRow("LC_ALL over both")
        << QStringList{"de_DE.UTF-8", "sv_SE.UTF-8", "en_US"} << "de_DE";
    QTest::newRow("LANG alone") << QStringList{"", "", "fr_FR.UTF-8"} << "fr_FR";
    QTest::newRow("modifier left out") << QStringList{"", "", "sv_SE.UTF-8@euro"} << "sv_SE";
    QTest::newRow("script modifier kept")
        << QStringList{"", "", "sr_RS.UTF-8@latin"} << "sr_Latn_RS";
    QTest::newRow("C collation is English") << QStringList{"", "C", "sv_SE.UTF-8"} << "en_US";
    QTest::newRow("C.UTF-8 is English") << QStringList{"C.UTF-8", "", ""} << "en_US";
    QTest::newRow("POSIX is English") << QStringList{"", "", "POSIX"} << "en_US";
    QTest::newRow("nothing set is English") << QStringList{"", "", ""} << "en_US";
}

void TestLineSortsAfter::collationLocale() {
    QFETCH(QStringList, environment);
    QFETCH(QString, locale);
    QCOMPARE(varnel::collationLocale(environment[0], environment[1], environment[2]),
             QLocale(locale));
}

QTEST_APPLESS_MAIN(TestLineSortsAfter)
#include "tst_linesortsafter.moc"
