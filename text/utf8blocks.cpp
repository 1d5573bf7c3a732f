#include "utf8blocks.h"

#include "core/sidethread.h"
#include "linebreaks.h"
#include "utf8check.h"

#include <QString>

#include <bit>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

constexpr QByteArrayView MarkerWord("varnel:");

} // namespace

// Its first and last bytes are looked for sixteen places at a time: a file of millions of
// lines is searched whole, and a plain search of a word of seven bytes takes longer than
// cutting the lines.
qsizetype findMarkerWord(QByteArrayView text, qsizetype from, qsizetype to) {
    const char* const p = text.data();
    // The last place it can start.
    const qsizetype last = std::min(to - 1, text.size() - MarkerWord.size());
    qsizetype at = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8('v');
    const __m128i colon = _mm_set1_epi8(':');
    for (; at + 15 <= last; at += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + 6));
        for (unsigned hits = unsigned(_mm_movemask_epi8(
                 _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, colon))));
             hits != 0; hits &= hits - 1) {
            const qsizetype start = at + std::countr_zero(hits);
            if (std::memcmp(p + start, MarkerWord.data(), size_t(MarkerWord.size())) == 0)
                return start;
        }
    }
#endif
    for (; at <= last; ++at)
        if (std::memcmp(p + at, MarkerWord.data(), size_t(MarkerWord.size())) == 0)
            return at;
    return -1;
}

namespace {

// Where "varnel:" is next found from `from` on, or -1. What follows a file's only marker
// is all searched, as long as the check that follows takes on two threads: a long stretch
// is searched in two halves at once.
qsizetype markerWordFrom(QByteArrayView text, qsizetype from) {
    constexpr qsizetype SharedFrom = qsizetype(1) << 22;
    if (text.size() - from < SharedFrom)
        return findMarkerWord(text, from, text.size());
    const qsizetype middle = from + (text.size() - from) / 2;
    qsizetype later = -1;
    SideThread aside;
    try {
        aside = SideThread([&] { later = findMarkerWord(text, middle, text.size()); });
    } catch (const std::system_error&) {
        // No thread to be had: this one searches both halves.
    }
    const qsizetype early = findMarkerWord(text, from, middle);
    if (aside.joinable())
        aside.join();
    else if (early < 0)
        later = findMarkerWord(text, middle, text.size());
    return early >= 0 ? early : later;
}

// The line that starts at `start`: its length, and where the next one starts.
std::pair<qsizetype, qsizetype> lineAt(QByteArrayView text, qsizetype start, qsizetype end) {
    std::pair<qsizetype, qsizetype> line{0, end};
    LineCuts cuts{start, start};
    cutLines(text.data(), end, true, cuts, [&](qsizetype, qsizetype length, qsizetype next) {
        line = {length, next};
        return false;
    });
    return line;
}

// Whether the lines of a block, the bytes [from, to), are each an item of their own, and how
// many there are. A long block is read in two halves, on two threads.
WholeLineItems wholeLineItemsOf(QByteArrayView text, qsizetype from, qsizetype to,
                                const SortedBlock& block) {
    const auto read = [&](WholeLineItems& items, qsizetype start, qsizetype end) {
        LineCuts cuts{start, start};
        cutLines(text.data(), end, true, cuts, [&](qsizetype at, qsizetype length, qsizetype) {
            items.take(text.sliced(at, length));
        });
    };
    WholeLineItems items(block);
    constexpr qsizetype SharedFrom = qsizetype(1) << 20;
    const qsizetype middle =
        to - from < SharedFrom ? to : lineStartAfterLf(text.data(), from + (to - from) / 2, to);
    if (middle >= to) {
        read(items, from, to);
        return items;
    }
    WholeLineItems later(block, WholeLineItems::firstIndentOf(text.sliced(from, to - from)));
    std::exception_ptr failure;
    SideThread aside;
    try {
        aside = SideThread([&] {
            try {
                read(later, middle, to);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: this one reads both halves.
    }
    read(items, from, middle);
    if (aside.joinable())
        aside.join();
    else
        read(later, middle, to);
    if (failure)
        std::rethrow_exception(failure);
    items.append(later);
    return items;
}

} // namespace

Utf8Blocks findUtf8Blocks(QByteArrayView text, bool leaveOnlyBlock) {
    Utf8Blocks found;
    qsizetype nextMarker = markerWordFrom(text, 0);
    // A text that never names a marker is all outside blocks: nothing more to know of it.
    if (nextMarker < 0) {
        found.utf8 = true;
        return found;
    }
    // Only the marker lines are cut: the lines between them are counted sixty-four bytes at
    // a time, and a block's own lines are read afterwards, on two threads.
    BlockMarkers markers;
    std::vector<SortedBlock> opened; // each span's block as its marker opened it
    qsizetype line = 0;              // the number of the line that starts at `counted`
    qsizetype counted = 0;
    bool afterCr = false;
    while (nextMarker >= 0) {
        const qsizetype start = lineStartBefore(text.data(), nextMarker);
        line += countLineEnds(text.data(), counted, start, afterCr);
        const auto [length, next] = lineAt(text, start, text.size());
        const bool wasOpen = markers.isOpen();
        markers.take(line, QString::fromUtf8(text.sliced(start, length)));
        if (wasOpen && !markers.isOpen()) {
            found.spans.back().to = start;
        } else if (!wasOpen && markers.isOpen()) {
            found.spans.push_back({next, text.size(), std::nullopt});
            opened.push_back(markers.open());
            // The rest is searched for markers by the check too, as it reads it: should it
            // find one, the text is searched again whole.
            if (leaveOnlyBlock && found.spans.size() == 1)
                break;
        }
        ++line;
        counted = next;
        afterCr = false; // a break is whole once its line is cut
        nextMarker = markerWordFrom(text, next);
    }
    qsizetype lineCount = line;
    // An only block is what a file of one list holds, and may be all of it: it is left to
    // the check, which reads each line as it compares it.
    const bool onlyLeft = leaveOnlyBlock && found.spans.size() == 1;
    for (size_t k = 0; k < found.spans.size(); ++k) {
        Utf8Blocks::Span& span = found.spans[k];
        if (onlyLeft) {
            // Its lines are not counted either.
            if (span.to == text.size())
                lineCount = -1;
            continue;
        }
        const WholeLineItems items = wholeLineItemsOf(text, span.from, span.to, opened[k]);
        span.wholeLines = items.hold();
        if (span.to == text.size())
            lineCount = opened[k].first + items.lines();
    }
    found.markers = markers.finish(lineCount);
    if (!found.markers.problems.isEmpty())
        found.spans.clear();
    // All but the block left, checked in one go: the check of a block finds its own bytes
    // not UTF-8 only after earlier blocks' findings may have gone out.
    // A marker that cannot be followed leaves no block at all.
    const bool left = onlyLeft && !found.spans.empty();
    Utf8Check check;
    const qsizetype lastFrom = left ? found.spans.back().from : text.size();
    const qsizetype lastTo = left ? found.spans.back().to : text.size();
    found.utf8 = check.feed(text.first(lastFrom)) && check.complete();
    Utf8Check after;
    found.utf8 = found.utf8 && after.feed(text.sliced(lastTo)) && after.complete();
    return found;
}

} // namespace varnel
