#include "utf8linepairs.h"

#include "order/collationkeys.h"
#include "order/encodedlinesortsafter.h"
#include "pairwalk.h"
#include "text/linebreaks.h"
#include "text/sortedblocks.h"
#include "text/utf8blocks.h"
#include "text/utf8check.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace varnel {

namespace {

enum class Verdict { None, Order, Repeat };

// The pair test of streamLinesSortAfter on UTF-8, as the check asks it.
struct CodeJudge {
    [[gnu::always_inline]] Verdict operator()(QByteArrayView upper, QByteArrayView lower) const {
        if (utf8LineSortsAfter(upper, lower))
            return Verdict::Order;
        return repeats && !utf8LineSortsAfter(lower, upper) ? Verdict::Repeat : Verdict::None;
    }
    bool repeats;
};

// The same in a locale's order: the collator reads UTF-8 itself, and being only read, it
// serves both threads.
struct LocaleJudge {
    Verdict operator()(QByteArrayView upper, QByteArrayView lower) const {
        const int order = collation.compareUtf8(upper, lower);
        return order > 0 ? Verdict::Order : order == 0 && repeats ? Verdict::Repeat : Verdict::None;
    }
    const CollationKeys& collation;
    bool repeats;
};

// Whole lines of the text: from a line's start to just past a LF, or to the text's end.
// Its bytes are checked for UTF-8 a stretch at a time just ahead of the lines cut from
// them, so that each stretch is still in the cache when it is cut; no line is judged before
// its bytes are known to be UTF-8, which the pair test relies on.
//
// In a sorted block, each line is also read for its shape as it is cut: a share whose lines
// cannot all be items compared whole is as void as one that is not UTF-8.
template <typename Judge> class Share {
public:
    Share(QByteArrayView text, qsizetype from, qsizetype to, Judge judge, qsizetype checkedAhead,
          std::optional<WholeLineItems> shape)
        : m_text(text.data())
        , m_textSize(text.size())
        , m_to(to)
        , m_judge(judge)
        , m_checkedAhead(std::max<qsizetype>(checkedAhead, 1))
        , m_checked(from)
        , m_cuts{from, from}
        , m_shape(std::move(shape)) {}

    // Checks the whole share and cuts it into lines, keeping up to `most` pairs.
    void run(qsizetype most) {
        // Room for a pair every line or so, taken from the system only as it is used: no
        // copies as it grows.
        m_kept.reserve(size_t(std::min(most, (m_to - m_cuts.start) / 16 + 1)));
        cut([&](const Kept& pair) {
            m_kept.push_back(pair);
            return qsizetype(m_kept.size()) < most;
        });
        while (m_valid && m_checked < m_to)
            checkMore();
        m_valid = m_valid && m_check.complete();
        readShapeLeft();
    }
    bool valid() const { return m_valid; }
    const std::optional<WholeLineItems>& shape() const { return m_shape; }

    // Gives the pairs kept, then cuts the lines left and gives theirs; `before` lines come
    // before the share's first.
    void give(qint64 before, LinePairTaker& taker) {
        const auto pair = [&](const Kept& kept) {
            // The upper line and the lower one after its break, cut again. Should the file
            // have been cut short meanwhile, it reads as zeros, which the taker is told of:
            // nothing is read past the share even then.
            LinePair pair{kept.repeat(), before + kept.lowerNumber(), {}, {m_text + m_to, 0}};
            LineCuts cuts{kept.upperFrom, kept.upperFrom};
            bool upper = true;
            cutLines(m_text, m_to, true, cuts, [&](qsizetype from, qsizetype length, qsizetype) {
                (upper ? pair.upper : pair.lower) = QByteArrayView(m_text + from, length);
                return std::exchange(upper, false);
            });
            return pair;
        };
        // The lines kept were read long ago: fetched a few pairs ahead, they are no longer
        // waited for one at a time.
        constexpr size_t Ahead = 8;
        for (size_t k = 0; k < m_kept.size(); ++k) {
            if (k + Ahead < m_kept.size()) {
                __builtin_prefetch(m_text + m_kept[k + Ahead].upperFrom);
            }
            taker.take(pair(m_kept[k]));
        }
        m_kept = {};
        cut([&](const Kept& kept) {
            taker.take(pair(kept));
            return true;
        });
    }

    // Once all is cut.
    qint64 lines() const { return m_lines; }
    QByteArrayView first() const { return view(m_first); }
    QByteArrayView last() const { return {m_text + m_previousFrom, m_previousLength}; }

private:
    // Where a pair's upper line starts: little, as a share may keep many.
    struct Kept {
        Kept(qsizetype from, qint64 number, bool repeat)
            : upperFrom(from)
            , numberAndRepeat(quint64(number) << 1 | quint64(repeat)) {}
        qint64 lowerNumber() const { return qint64(numberAndRepeat >> 1); } // in the share
        bool repeat() const { return numberAndRepeat & 1; }

        qsizetype upperFrom;
        // Packed by hand into a whole word: a bit field is read before it is written, and
        // reading fresh memory first maps a shared page of zeros, which the write must then
        // replace on both cores at once.
        quint64 numberAndRepeat;
    };

    QByteArrayView view(LineRange line) const { return {m_text + line.from, line.length}; }

    // The lines left to be cut once the pairs kept are given are read for their shape now:
    // whether the share stands is known when the walk ends.
    void readShapeLeft() {
        if (m_shape && m_valid && !m_cut) {
            LineCuts rest = m_cuts;
            cutLines(m_text, m_to, true, rest, [&](qsizetype from, qsizetype length, qsizetype) {
                m_shape->take({m_text + from, length});
                return m_shape->mayHold();
            });
            m_valid = m_shape->mayHold();
        }
        m_shapeRead = true;
    }

    bool checkMore() {
        const qsizetype size = std::min(m_checkedAhead, m_to - m_checked);
        m_valid = m_check.feed(QByteArrayView(m_text + m_checked, size));
        // A block's lines hold no marker: one found after all is for a search of the whole
        // text to follow.
        if (m_valid && m_shape)
            m_valid = findMarkerWord({m_text, m_textSize}, m_checked, m_checked + size) < 0;
        m_checked += size;
        return m_valid;
    }

    // Cuts lines by the line rule until the share ends or `found` says stop; stopped, it
    // goes on from there when called again.
    template <typename Found> void cut(Found&& found) {
        while (!m_cut) {
            // A share ends after a LF, never between the CR and LF of one break; only the
            // text's last share can end without a break.
            if (!cutLines(m_text, m_checked, m_checked == m_to, m_cuts,
                          [&](qsizetype from, qsizetype length, qsizetype) {
                              return line(from, length, found);
                          }))
                return;
            if (m_checked == m_to) {
                m_cut = true;
            } else if (!checkMore()) {
                return;
            }
        }
    }

    template <typename Found>
    [[gnu::always_inline]] bool line(qsizetype from, qsizetype length, Found&& found) {
        if (m_shape && !m_shapeRead) {
            m_shape->take({m_text + from, length});
            if (!m_shape->mayHold()) {
                m_valid = false;
                return false;
            }
        }
        bool goOn = true;
        if (++m_lines == 1) {
            m_first = {from, length};
        } else {
            const Verdict verdict =
                m_judge({m_text + m_previousFrom, m_previousLength}, {m_text + from, length});
            if (verdict != Verdict::None)
                goOn = found(Kept(m_previousFrom, m_lines, verdict == Verdict::Repeat));
        }
        m_previousFrom = from;
        m_previousLength = length;
        return goOn;
    }

    const char* const m_text;
    const qsizetype m_textSize;
    const qsizetype m_to;
    const Judge m_judge;
    const qsizetype m_checkedAhead;
    Utf8Check m_check;
    bool m_valid = true;
    qsizetype m_checked; // the bytes known to be UTF-8 end here
    LineCuts m_cuts;
    bool m_cut = false; // all lines cut
    qint64 m_lines = 0;
    LineRange m_first;
    qsizetype m_previousFrom = 0;
    qsizetype m_previousLength = 0;
    std::vector<Kept> m_kept;
    std::optional<WholeLineItems> m_shape;
    bool m_shapeRead = false; // of every line, those left to be cut too
};

// Where each share starts: the first at the text's start, the others at the first line start
// after a LF from each stretch on.
std::vector<qsizetype> shareStarts(QByteArrayView text, const LinePairTuning& tuning) {
    std::vector<qsizetype> starts{0};
    if (text.size() < tuning.smallestShared)
        return starts;
    const qsizetype stretch =
        tuning.shareSize > 0 ? tuning.shareSize
                             : std::max<qsizetype>(text.size() / std::max(tuning.shares, 1), 1);
    for (qsizetype from = stretch; from < text.size();) {
        const qsizetype start = lineStartAfterLf(text.data(), from, text.size());
        if (start == text.size())
            break;
        starts.push_back(start);
        from = std::max(from + stretch, start);
    }
    return starts;
}

// The shares of one text, walked by the two threads of a PairWalk and given in order.
template <typename Judge> class Shares {
public:
    // With a `block`, the text is its lines, and they stand only if each is an item.
    Shares(QByteArrayView text, Judge judge, LinePairTaker& taker, const LinePairTuning& tuning,
           const SortedBlock* block = nullptr)
        : m_judge(judge)
        , m_taker(taker) {
        const std::vector<qsizetype> starts = shareStarts(text, tuning);
        m_shares.reserve(starts.size());
        const qsizetype firstIndent = block ? WholeLineItems::firstIndentOf(text) : 0;
        for (size_t k = 0; k < starts.size(); ++k) {
            std::optional<WholeLineItems> shape;
            if (block && k == 0)
                shape.emplace(*block);
            else if (block)
                shape.emplace(*block, firstIndent);
            m_shares.emplace_back(text, starts[k],
                                  k + 1 < starts.size() ? starts[k + 1] : text.size(), judge,
                                  tuning.checkedAhead, std::move(shape));
        }
        m_most = std::max<qsizetype>(tuning.mostKept / qsizetype(m_shares.size()), 1);
    }

    bool find(PairWalk& walk) {
        // Between shares this thread gives what is done, in order, while the other still
        // works, as long as the taker takes pairs ahead.
        const PairWalk::Outcome outcome = walk.walk(
            qsizetype(m_shares.size()),
            [this](qsizetype k) {
                Share<Judge>& share = m_shares[size_t(k)];
                share.run(m_most);
                return share.valid();
            },
            [this](qsizetype k) {
                if (!m_taker.takesAhead())
                    return false;
                give(size_t(k));
                return true;
            });
        if (outcome.failure)
            std::rethrow_exception(outcome.failure);
        if (outcome.stopped || !wholeLines()) {
            if (outcome.given > 0)
                m_taker.settle(false);
            return false;
        }
        if (outcome.given > 0)
            m_taker.settle(true);
        for (size_t k = size_t(outcome.given); k < m_shares.size(); ++k)
            give(k);
        return true;
    }

private:
    // Whether the shares' lines, read for their shape, are each an item, as one block.
    bool wholeLines() const {
        if (!m_shares.front().shape())
            return true;
        WholeLineItems whole = *m_shares.front().shape();
        for (size_t k = 1; k < m_shares.size(); ++k)
            whole.append(*m_shares[k].shape());
        return whole.hold();
    }

    void give(size_t k) {
        // The pair across two shares, which neither saw whole: no share is empty.
        if (k > 0) {
            const QByteArrayView upper = m_shares[k - 1].last();
            const QByteArrayView lower = m_shares[k].first();
            const Verdict verdict = m_judge(upper, lower);
            if (verdict != Verdict::None)
                m_taker.take({verdict == Verdict::Repeat, m_before + 1, upper, lower});
        }
        m_shares[k].give(m_before, m_taker);
        m_before += m_shares[k].lines();
    }

    const Judge m_judge;
    LinePairTaker& m_taker;
    std::vector<Share<Judge>> m_shares;
    qsizetype m_most = 1;
    qint64 m_before = 0; // lines in the shares given
};

} // namespace

bool findUtf8LinePairs(PairWalk& walk, QByteArrayView text, bool repeats, LinePairTaker& taker,
                       const LinePairTuning& tuning) {
    // A marked text decodes by rules of its own.
    if (text.startsWith("\xEF\xBB\xBF"))
        return false;
    return Shares(text, CodeJudge{repeats}, taker, tuning).find(walk);
}

bool findUtf8BlockLinePairs(PairWalk& walk, QByteArrayView lines, const SortedBlock& block,
                            bool repeats, LinePairTaker& taker, const LinePairTuning& tuning) {
    return Shares(lines, CodeJudge{repeats}, taker, tuning, &block).find(walk);
}

bool findUtf8LinePairs(PairWalk& walk, QByteArrayView text, const CollationKeys& collation,
                       bool repeats, LinePairTaker& taker, const LinePairTuning& tuning) {
    if (text.startsWith("\xEF\xBB\xBF") || !collation.collates())
        return false;
    return Shares(text, LocaleJudge{collation, repeats}, taker, tuning).find(walk);
}

} // namespace varnel
