#include "utf8blocks.h"

#include "linebreaks.h"
#include "utf8check.h"

#include <QString>

#include <bit>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

constexpr QByteArrayView MarkerWord("varnel:");

// Where "varnel:" is next found from `from` on, or -1. Its first and last bytes are looked
// for sixteen places at a time: a file of millions of lines is searched whole, and a plain
// search of a word of seven bytes takes longer than cutting the lines.
qsizetype markerWordFrom(QByteArrayView text, qsizetype from) {
    const char* const p = text.data();
    const qsizetype last = text.size() - MarkerWord.size(); // the last place it can start
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

} // namespace

Utf8Blocks findUtf8Blocks(QByteArrayView text) {
    Utf8Blocks found;
    BlockMarkers markers;
    std::optional<WholeLineItems> items;
    // Markers are few: they are searched for apart from the lines, which are then only cut.
    const auto markerFrom = [&](qsizetype from) { return markerWordFrom(text, from); };
    qsizetype nextMarker = markerFrom(0);
    // A text that never names a marker is all outside blocks: nothing more to know of it.
    if (nextMarker < 0) {
        found.utf8 = true;
        return found;
    }
    qsizetype line = 0;
    LineCuts cuts;
    cutLines(text.data(), text.size(), true, cuts,
             [&](qsizetype start, qsizetype length, qsizetype next) {
                 const QByteArrayView bytes = text.sliced(start, length);
                 if (nextMarker < 0 || nextMarker >= start + length) {
                     if (items)
                         items->take(bytes);
                     ++line;
                     // Past the last marker and its block, the lines need not be cut.
                     return nextMarker >= 0 || items.has_value();
                 }
                 nextMarker = markerFrom(next);
                 const bool wasOpen = markers.isOpen();
                 markers.take(line++, QString::fromUtf8(bytes));
                 if (wasOpen && markers.isOpen()) {
                     items->take(bytes); // a line that only names the word
                 } else if (wasOpen) {
                     found.spans.back().to = start;
                     found.spans.back().wholeLines = items->hold();
                     items.reset();
                 } else if (markers.isOpen()) {
                     found.spans.push_back({next, text.size(), false});
                     items.emplace(markers.open());
                 }
                 return true;
             });
    if (items)
        found.spans.back().wholeLines = items->hold();
    found.markers = markers.finish(line);
    if (!found.markers.problems.isEmpty())
        found.spans.clear();
    // What only the last block leaves out, checked in one go: the check of a block finds
    // its own bytes not UTF-8 only after earlier blocks' findings may have gone out.
    Utf8Check check;
    const qsizetype lastFrom = found.spans.empty() ? text.size() : found.spans.back().from;
    const qsizetype lastTo = found.spans.empty() ? text.size() : found.spans.back().to;
    found.utf8 = check.feed(text.first(lastFrom)) && check.complete();
    Utf8Check after;
    found.utf8 = found.utf8 && after.feed(text.sliced(lastTo)) && after.complete();
    return found;
}

} // namespace varnel
