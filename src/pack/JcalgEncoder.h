#pragma once
// The compressor's strategy, shared by the fast search (JcalgSearch.cpp) and the straightforward reference search
// (JcalgReference.cpp): both plug a Search into EncodeStream, so they can differ only in how candidates are
// found. Internal to the packing library.
#include "Jcalg.h"
#include "JcalgFormat.h"
#include "JcalgTokens.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace hexaloom::jcalg {

struct Match
{
    std::uint32_t distance = 0;
    std::uint32_t length = 0; // 0: no candidate with a positive gain
    std::int32_t gain = 0;
};

// The length of an accepted candidate that matches the first `need` bytes: four bytes at a time while
// below lmax - 4, then byte by byte once a four-byte step fails; a run that reaches lmax - 4 in four-byte
// steps ends there (so a match running on to lmax is left up to 4 bytes shorter).
inline std::uint32_t ExtendMatch(const std::uint8_t* there, const std::uint8_t* here, std::uint32_t need,
                                 std::uint32_t lmax)
{
    std::uint32_t length = need;
    if (lmax >= 4) {
        while (length < lmax - 4 && std::memcmp(there + length, here + length, 4) == 0)
            length += 4;
        if (length < lmax - 4)
            while (length < lmax && there[length] == here[length])
                ++length;
    }
    return length;
}

// Gain in bits the search credits a candidate with; 0 when it is unusable or not worth it.
__attribute__((always_inline)) inline std::int32_t Gain(std::uint32_t distance, std::uint32_t length,
                                                        std::uint32_t lastDistance, std::uint32_t indexBits)
{
    std::int32_t cost;
    if (distance != lastDistance && distance <= kShortDistanceMax && length <= kShortLengthMax) {
        cost = kShortTokenCost;
    } else if (distance == lastDistance) {
        cost = static_cast<std::int32_t>(GammaBits(length)) - 1;
    } else {
        const std::int64_t coded = static_cast<std::int64_t>(length) - Adjust(distance);
        if (coded < 2)
            return 0;
        cost = kNewDistanceCost + static_cast<std::int32_t>(GammaBits((distance >> indexBits) + 3)) +
               static_cast<std::int32_t>(GammaBits(static_cast<std::uint32_t>(coded)));
    }
    const std::int64_t gain = 8 * static_cast<std::int64_t>(length) + 1 - cost;
    return gain > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(gain, INT32_MAX)) : 0;
}

// The straightforward walk of one chain, newest node first: a candidate is accepted when it matches the
// length of the one accepted before (2 at first), and replaces the best only with a greater gain. The
// reference search runs it on its ring; the fast search on its pair chains, as the whole search for short
// maximum lengths and, in a build with HEXALOOM_JCALG_CHECK_SEARCH, as the check of every search.
// `positionOf(node)` is a node's position, `older(node)` the next node (0 ends the chain).
template <class PositionOf, class Older>
Match PlainWalk(const std::uint8_t* data, std::uint32_t position, std::uint32_t window, std::uint32_t lmax,
                std::uint32_t indexBits, std::uint32_t last, std::uint32_t newest, PositionOf positionOf, Older older)
{
    const std::uint8_t* here = data + position;
    Match best;
    std::uint32_t need = 2;
    for (std::uint32_t node = newest; node; node = older(node)) {
        const std::uint32_t candidate = positionOf(node);
        if (candidate >= position)
            continue;
        const std::uint32_t distance = position - candidate;
        if (distance >= window)
            break;
        const std::uint8_t* there = data + candidate;
        if (std::memcmp(there, here, need) != 0)
            continue;
        const std::uint32_t length = ExtendMatch(there, here, need, lmax);
        const std::int32_t gain = Gain(distance, length, last, indexBits);
        if (gain > best.gain) {
            best = {distance, length, gain};
            if (distance <= 1 && length > kRunStop)
                break;
        }
        need = length;
    }
    return best;
}

// Length a candidate is credited with when the required length is `need` and it really matches `trueLength`
// bytes (>= need): the extension runs in steps of 4 while below lmax - 4, then byte by byte only after a
// failed step, so a match running on to lmax is left up to 4 bytes short.
inline std::uint32_t CappedLength(std::uint32_t need, std::uint32_t lmax)
{
    if (lmax < 4 || need + 4 >= lmax)
        return need;
    const std::uint32_t steps = (lmax - 4 - need + 3) / 4;
    return need + 4 * steps;
}

// Search requirements:
//   bool Init(const uint8_t* data, uint32_t length, uint32_t window, JcAllocate, JcRelease)
//   void Release()
//   void Insert(uint32_t position)              positions arrive once each, in order; only those < length - 1
//   optionally void InsertRange(uint32_t first, uint32_t end)   Insert of first .. end - 1
//   Match Find(uint32_t position, uint32_t lmax, uint32_t indexBits, uint32_t lastDistance)
template <class Search>
std::size_t EncodeStream(Search& search, const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                         std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                         JcProgress progress, void* progressContext, bool noChecksum)
{
    if (!source || !destination || !allocate || !release || length > UINT32_MAX)
        return 0;
    const auto n = static_cast<std::uint32_t>(length);

    const LiteralMode firstMode = Analyse(source, std::min(n, kAnalysisStretch), LiteralMode{});
    window = std::min(std::max(std::min(window, kMaxWindow), kMinWindow), n);
    std::uint32_t maxLength = window == 0 ? 0 : window - 1;

    if (!search.Init(source, n, window, allocate, release))
        return 0;

    TokenWriter tokens(source, destination, capacity);
    BitWriter& out = tokens.out;
    tokens.mode = firstMode;
    tokens.PutHeader(n, noChecksum ? 0 : JcChecksum(source, length));
    const std::uint32_t& indexBits = tokens.indexBits;
    const std::uint32_t& lastDistance = tokens.lastDistance;
    auto finish = [&](std::size_t result) {
        search.Release();
        return result;
    };

    tokens.PutMode();
    std::uint32_t sinceAnalysis = 0;
    if (n > 0) {
        tokens.PutFirst(source[0]);
        sinceAnalysis = 1;
        for (std::uint32_t q = 0; q < 2 && q + 1 < n; ++q)
            search.Insert(q);
    }

    std::uint32_t p = 1;
    std::uint32_t untilProgress = kProgressTokens; // tokens left before the next progress report
    Match kept;
    bool haveKept = false;
    while (p < n) {
        if (haveKept && kept.length == 0) {
            // With nothing found at p the step below always does the same: p goes out as a single byte and
            // what is found at p + 1 is kept. On data that does not compress most steps are such; they run
            // here without the general step's checks, up to the next analysis, the next switch of the index
            // bits and the last four bytes.
            const std::uint32_t switchAt = indexBits == 8 && window > kIndexBits9From    ? kIndexBits9From + 1
                                           : indexBits == 9 && window > kIndexBits10From ? kIndexBits10From + 1
                                                                                         : UINT32_MAX;
            const std::uint32_t stop =
                std::min({n > 3 ? n - 3 : 0,
                          sinceAnalysis < kAnalysisStretch ? p + (kAnalysisStretch - sinceAnalysis) : 0, switchAt});
            while (p < stop && kept.length == 0) {
                maxLength = std::min(maxLength, n - p);
                search.Insert(p + 1);
                kept = search.Find(p + 1, maxLength - 1, indexBits, lastDistance);
                if (kept.gain < kLazyPenalty)
                    kept.gain += kLazyPenalty;
                tokens.PutSingle(p, std::min(p, window));
                ++sinceAnalysis;
                if (--untilProgress == 0) {
                    untilProgress = kProgressTokens;
                    if (progress && progress(p + 1, static_cast<std::uint32_t>(out.Written()), progressContext) == 0)
                        return finish(0);
                }
                if (out.Failed() || out.Written() > length)
                    return finish(0);
                ++p;
            }
        }
        const std::uint32_t reach = std::min(p, window);
        maxLength = std::min(maxLength, n - p);
        std::uint32_t advance = 1;
        if (maxLength <= 3) {
            tokens.PutSingle(p, reach);
            haveKept = false;
        } else {
            if (sinceAnalysis >= kAnalysisStretch) {
                sinceAnalysis = 0;
                tokens.SwitchMode(Analyse(source + p, std::min(maxLength, kAnalysisStretch), tokens.mode));
            }
            tokens.UpdateIndexBits(reach);
            const Match atP = haveKept ? kept : search.Find(p, maxLength, indexBits, lastDistance);
            search.Insert(p + 1);
            Match next = search.Find(p + 1, maxLength - 1, indexBits, lastDistance);
            if (next.gain >= kLazyPenalty)
                next.gain -= kLazyPenalty;
            const std::int32_t keptGain = next.gain + kLazyPenalty;
            if (next.length != 0 && next.gain > atP.gain) {
                tokens.PutSingle(p, reach);
                kept = next;
                kept.gain = keptGain;
                haveKept = true;
            } else if (atP.length != 0 && atP.gain >= static_cast<std::int32_t>(8 - tokens.mode.bits)) {
                tokens.PutMatch(atP.distance, atP.length);
                advance = atP.length;
                haveKept = false;
            } else {
                tokens.PutSingle(p, reach);
                kept = next;
                kept.gain = keptGain;
                haveKept = true;
            }
        }
        sinceAnalysis += advance;
        if (--untilProgress == 0) {
            untilProgress = kProgressTokens;
            if (progress && progress(p + advance, static_cast<std::uint32_t>(out.Written()), progressContext) == 0)
                return finish(0);
        }
        if (out.Failed() || out.Written() > length)
            return finish(0);
        const std::uint32_t insertEnd = std::min(p + advance + 1, n - 1); // positions below it are inserted
        if constexpr (requires { search.InsertRange(p, n); }) {
            if (p + 2 < insertEnd)
                search.InsertRange(p + 2, insertEnd);
        } else {
            for (std::uint32_t q = p + 2; q < insertEnd; ++q)
                search.Insert(q);
        }
        p += advance;
    }

    if (progress)
        progress(p, static_cast<std::uint32_t>(out.Written()), progressContext);
    tokens.PutEnd();
    return finish(out.Failed() ? 0 : out.Written());
}

} // namespace hexaloom::jcalg
