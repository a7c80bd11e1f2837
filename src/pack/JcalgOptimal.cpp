// jCalg1's "max" level: the parse with the fewest bits over the stream's exact token costs, found block by block
// with forward arrivals (each position keeps the cheapest way to reach it and the coder state that way leaves:
// the last distance, and whether a match ended there) and a trace back from the block's end. A binary tree of
// the window's positions gives, per position, the nearest match of every length it holds.
//
// The streams read with every decoder of the format, so they keep to what the level-9 strategy itself emits,
// in kind and in order:
// - the first byte is a single byte; a single byte is the zero token for 0, else the nearest equal byte among
//   the 14 before (as far as the window reaches), else a literal of the current literal mode;
// - a match at the last distance is always the repeat token; a match at another distance of 1 to 127 and 2 to 5
//   bytes always the short token; any other match codes its distance anew, and only when its length less
//   adjust(distance) is at least 2;
// - a repeat never directly follows a match: level 9's matches are as long as their distance allows, so it
//   continues one with another at the same distance only where its length limit cut the first short;
// - no match starts in the last three bytes; distances and lengths stay below the window;
// - the index bits switch to 9 and 10 before the first token past 49152 and 65536 bytes (within the last three
//   bytes no switch), and never back;
// - literal modes change at the start, after an analysis of the next 1024 bytes at the first token 1024 bytes
//   or more after the previous one (not within the last three bytes), and before a literal outside the mode.
#include "Jcalg.h"
#include "JcalgFormat.h"
#include "JcalgTokens.h"
#include "JcalgWorkAreas.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace hexaloom {

namespace {

using namespace jcalg;

// The window of the max level: distances of up to a mebibyte cost a few bits more than those of level 9's
// 64 KiB window, and find far more on files larger than that.
constexpr std::uint32_t kOptimalWindow = 1u << 20;
static_assert(kOptimalWindow >= kMinWindow && kOptimalWindow <= kMaxWindow);
// A match at least this long is taken as it is: a longer search would only shave bits off its neighbours.
constexpr std::uint32_t kNiceLength = 128;
// Tree nodes a search visits at most.
constexpr std::uint32_t kTreeDepth = 48;
// Positions a parse block spans at most; the arrivals of one block.
constexpr std::uint32_t kBlockSpan = 4096;
constexpr std::uint32_t kHash3Bits = 18;
constexpr std::uint32_t kNoPrice = std::numeric_limits<std::uint32_t>::max();
// Level 9's stream is kept without a parse when it is under this fraction of the input.
constexpr std::size_t kRunsFraction = 64;

struct Candidate
{
    std::uint32_t length;
    std::uint32_t distance;
};

std::uint32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t from, std::uint32_t limit)
{
    while (from < limit && a[from] == b[from])
        ++from;
    return from;
}

// Positions by their first two bytes (the newest one) and, in binary trees per three-byte hash, by the bytes
// that follow: a search walks from the newest node to older ones and meets, for each length, its nearest match
// first. Positions are kept as position + 1 (0: none).
class MatchTree
{
public:
    MatchTree(const std::uint8_t* data, std::uint32_t window) : m_data(data), m_window(window)
    {
        std::uint32_t ring = 1;
        while (ring < window)
            ring <<= 1;
        m_mask = ring - 1;
        m_head2.assign(65536, 0);
        m_head3.assign(std::size_t{1} << kHash3Bits, 0);
        m_son.assign(std::size_t{2} * ring, 0);
    }

    // Enters position p (which has at least 4 bytes from it on) and, with `out`, writes the matches of growing
    // length it finds, compared up to `limit` bytes. Returns how many.
    std::uint32_t Enter(std::uint32_t p, std::uint32_t limit, Candidate* out)
    {
        const std::uint8_t* const here = m_data + p;
        std::uint32_t count = 0;
        std::uint32_t best = 1;
        const std::uint32_t key2 = here[0] | std::uint32_t{here[1]} << 8;
        const std::uint32_t near = m_head2[key2];
        m_head2[key2] = p + 1;
        if (near != 0 && p + 1 - near < m_window) {
            best = 2;
            if (out)
                out[count++] = {2, p + 1 - near};
        }
        const std::uint32_t key3 =
            ((std::uint32_t{here[0]} << 16 | std::uint32_t{here[1]} << 8 | here[2]) * 2654435761u) >> (32 - kHash3Bits);
        std::uint32_t node = m_head3[key3];
        m_head3[key3] = p + 1;
        std::uint32_t* smaller = &m_son[2 * (p & m_mask)];
        std::uint32_t* larger = smaller + 1;
        std::uint32_t smallerLength = 0;
        std::uint32_t largerLength = 0;
        for (std::uint32_t depth = kTreeDepth;; --depth) {
            if (node == 0 || depth == 0 || p + 1 - node >= m_window) {
                *smaller = *larger = 0;
                return count;
            }
            const std::uint32_t distance = p + 1 - node;
            std::uint32_t* const pair = &m_son[2 * ((node - 1) & m_mask)];
            const std::uint8_t* const there = here - distance;
            std::uint32_t length = MatchLength(there, here, std::min(smallerLength, largerLength), limit);
            if (length > best) {
                best = length;
                if (out)
                    out[count++] = {length, distance};
            }
            if (length == limit) {
                // As long as the limit: the node's subtrees become the new node's, and the node leaves the tree.
                *smaller = pair[0];
                *larger = pair[1];
                return count;
            }
            if (there[length] < here[length]) {
                *smaller = node;
                smaller = pair + 1;
                node = *smaller;
                smallerLength = length;
            } else {
                *larger = node;
                larger = pair;
                node = *larger;
                largerLength = length;
            }
        }
    }

private:
    const std::uint8_t* m_data;
    std::uint32_t m_window;
    std::uint32_t m_mask = 0;
    std::vector<std::uint32_t> m_head2;
    std::vector<std::uint32_t> m_head3;
    std::vector<std::uint32_t> m_son; // per ring slot: the subtree of smaller, then of larger strings
};

struct Arrival
{
    std::uint32_t price = kNoPrice;
    std::uint32_t from = 0;   // the block index the token starts at
    std::uint32_t length = 0; // 1: a single byte
    std::uint32_t last = 1;   // the last distance after the token: a match's own distance
    bool afterMatch = false;
};

// The bits of a match at a distance other than the last one, or kNoPrice when it cannot be coded.
std::uint32_t NewDistancePrice(std::uint32_t distance, std::uint32_t length, std::uint32_t indexBits)
{
    if (distance <= kShortDistanceMax && length <= kShortLengthMax)
        return 12;
    const std::uint32_t adjust = Adjust(distance);
    if (length < adjust + 2)
        return kNoPrice;
    return 2 + GammaBits((distance >> indexBits) + 3) + indexBits + GammaBits(length - adjust);
}

std::uint32_t RepeatPrice(std::uint32_t length)
{
    return 4 + GammaBits(length);
}

class OptimalEncoder
{
public:
    OptimalEncoder(const std::uint8_t* source, std::uint32_t n, std::uint32_t window, std::uint8_t* destination,
                   std::size_t capacity)
        : m_source(source), m_n(n), m_window(window), m_tree(source, window), m_tokens(source, destination, capacity),
          m_arrivals(kBlockSpan + 1), m_candidates(kNiceLength + 2)
    {
    }

    std::size_t Run(bool noChecksum, JcProgress progress, void* progressContext)
    {
        const std::uint32_t n = m_n;
        m_tokens.mode = Analyse(m_source, std::min(n, kAnalysisStretch), LiteralMode{});
        EstimateLiteralBits();
        m_tokens.PutHeader(n, noChecksum ? 0 : JcChecksum(m_source, n));
        m_tokens.PutMode();
        m_tokens.PutFirst(m_source[0]);
        m_sinceAnalysis = 1;
        std::uint32_t p = 1;
        while (p < n) {
            if (progress && progress(p, static_cast<std::uint32_t>(m_tokens.out.Written()), progressContext) == 0)
                return 0;
            const std::uint32_t end = ParseBlock(p);
            if (!EmitBlock(p, end))
                return 0;
            p += end;
        }
        if (progress)
            progress(p, static_cast<std::uint32_t>(m_tokens.out.Written()), progressContext);
        m_tokens.PutEnd();
        return m_tokens.out.Failed() ? 0 : m_tokens.out.Written();
    }

private:
    // The literal bits each stretch of 1024 bytes would get if the analyses fell on its start; the parse
    // prices literals with them, the emission follows the real analyses.
    void EstimateLiteralBits()
    {
        LiteralMode mode = m_tokens.mode;
        m_literalModes.reserve(m_n / kAnalysisStretch + 1);
        for (std::uint32_t at = 0; at < m_n; at += kAnalysisStretch) {
            if (at > 0)
                mode = Analyse(m_source + at, std::min(m_n - at, kAnalysisStretch), mode);
            m_literalModes.push_back(mode);
        }
    }

    std::uint32_t SinglePrice(std::uint32_t q) const
    {
        const std::uint8_t byte = m_source[q];
        if (byte == 0)
            return 7;
        const std::uint32_t look = std::min({q, m_window, kNearByteMax});
        for (std::uint32_t k = 1; k <= look; ++k)
            if (m_source[q - k] == byte)
                return 7;
        const LiteralMode& mode = m_literalModes[q / kAnalysisStretch];
        return mode.Holds(byte) ? mode.bits + 1 : 9;
    }

    // The matches at q, entering q into the tree: the ones kept from the block before when it ended at q.
    std::uint32_t CandidatesAt(std::uint32_t q)
    {
        if (q < m_entered)
            return m_pendingCount;
        m_entered = q + 1;
        m_pendingCount = q + 4 <= m_n ? m_tree.Enter(q, std::min(kNiceLength, m_n - q), m_candidates.data()) : 0;
        return m_pendingCount;
    }

    // Enters the positions a match covers without looking for matches there.
    void Skip(std::uint32_t end)
    {
        for (; m_entered < end; ++m_entered)
            if (m_entered + 4 <= m_n)
                m_tree.Enter(m_entered, std::min(kNiceLength, m_n - m_entered), nullptr);
    }

    void Relax(std::uint32_t to, const Arrival& arrival)
    {
        if (to > m_reached) {
            for (std::uint32_t i = m_reached + 1; i <= to; ++i)
                m_arrivals[i].price = kNoPrice;
            m_reached = to;
        }
        if (arrival.price < m_arrivals[to].price)
            m_arrivals[to] = arrival;
    }

    // Parses the block from p and returns its length in positions; its tokens are traced back from there.
    std::uint32_t ParseBlock(std::uint32_t p)
    {
        m_arrivals[0] = Arrival{0, 0, 0, m_tokens.lastDistance, m_afterMatch};
        m_reached = 0;
        m_asFound.length = 0;
        for (std::uint32_t cur = 0;; ++cur) {
            const std::uint32_t q = p + cur;
            const Arrival here = m_arrivals[cur];
            const std::uint32_t count = CandidatesAt(q);
            const std::uint32_t maxLength = std::min(m_window - 1, m_n - q);
            const bool matches = maxLength > 3;
            std::uint32_t repeat = 0;
            if (matches && !here.afterMatch && here.last <= std::min(q, m_window - 1))
                repeat = MatchLength(m_source + q - here.last, m_source + q, 0,
                                     cur == 0 ? maxLength : std::min(maxLength, kNiceLength));
            const Candidate* longest = count > 0 ? &m_candidates[count - 1] : nullptr;
            const bool longMain =
                longest && longest->length >= kNiceLength && (longest->distance != here.last || !here.afterMatch);
            if (matches && (longMain || repeat >= kNiceLength)) {
                if (cur > 0)
                    return cur; // the next block starts with it
                // Taken as found: the longer of the two, the repeat when they are as long.
                std::uint32_t distance = here.last;
                std::uint32_t length = repeat;
                if (longMain) {
                    const std::uint32_t full =
                        MatchLength(m_source + q - longest->distance, m_source + q, longest->length, maxLength);
                    if (full > repeat) {
                        distance = longest->distance;
                        length = full;
                    }
                }
                m_asFound = Arrival{0, 0, length, distance, true};
                return length;
            }
            Relax(cur + 1, Arrival{here.price + SinglePrice(q), cur, 1, here.last, false});
            if (matches) {
                const std::uint32_t room = kBlockSpan - cur;
                for (std::uint32_t length = 2; length <= std::min(repeat, room); ++length)
                    Relax(cur + length, Arrival{here.price + RepeatPrice(length), cur, length, here.last, true});
                const std::uint32_t indexBits = IndexBitsFor(std::min(q, m_window));
                std::uint32_t length = 2;
                for (std::uint32_t i = 0; i < count; ++i) {
                    const Candidate& c = m_candidates[i];
                    const std::uint32_t top = std::min({c.length, maxLength, room});
                    if (c.distance == here.last) {
                        length = c.length + 1; // the repeat's lengths
                        continue;
                    }
                    for (; length <= top; ++length) {
                        const std::uint32_t price = NewDistancePrice(c.distance, length, indexBits);
                        if (price != kNoPrice)
                            Relax(cur + length, Arrival{here.price + price, cur, length, c.distance, true});
                    }
                }
            }
            if (m_reached == cur + 1)
                return cur + 1;
        }
    }

    // Writes the tokens of the cheapest way to `end`, the block's positions from p on.
    bool EmitBlock(std::uint32_t p, std::uint32_t end)
    {
        std::uint32_t count = 0;
        if (m_asFound.length != 0) {
            m_trace.assign(1, m_asFound);
        } else {
            m_trace.clear();
            for (std::uint32_t at = end; at > 0; at = m_arrivals[at].from)
                m_trace.push_back(m_arrivals[at]);
        }
        for (auto token = m_trace.rbegin(); token != m_trace.rend(); ++token) {
            const std::uint32_t q = p + token->from;
            const std::uint32_t maxLength = std::min(m_window - 1, m_n - q);
            if (maxLength > 3) {
                if (m_sinceAnalysis >= kAnalysisStretch) {
                    m_sinceAnalysis = 0;
                    m_tokens.SwitchMode(Analyse(m_source + q, std::min(maxLength, kAnalysisStretch), m_tokens.mode));
                }
                m_tokens.UpdateIndexBits(std::min(q, m_window));
            }
            if (token->length == 1) {
                m_tokens.PutSingle(q, std::min(q, m_window));
                m_afterMatch = false;
            } else {
                m_tokens.PutMatch(token->last, token->length);
                m_afterMatch = true;
                Skip(q + token->length);
            }
            m_sinceAnalysis += token->length;
            ++count;
            if (m_tokens.out.Failed() || m_tokens.out.Written() > m_n)
                return false;
        }
        return count > 0;
    }

    const std::uint8_t* m_source;
    std::uint32_t m_n;
    std::uint32_t m_window;
    MatchTree m_tree;
    TokenWriter m_tokens;
    std::vector<Arrival> m_arrivals;
    std::uint32_t m_reached = 0;
    Arrival m_asFound; // a long match the block is, taken as found (length 0: none)
    std::vector<Arrival> m_trace;
    std::vector<Candidate> m_candidates;
    std::uint32_t m_pendingCount = 0;
    std::uint32_t m_entered = 0; // positions below it are in the tree
    std::vector<LiteralMode> m_literalModes;
    std::uint32_t m_sinceAnalysis = 0;
    bool m_afterMatch = false;
};

} // namespace

std::size_t JcCompressMax(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                          std::size_t capacity, JcProgress progress, void* progressContext, bool noChecksum)
{
    if (!source || !destination || length == 0 || length > UINT32_MAX)
        return 0;
    const auto n = static_cast<std::uint32_t>(length);
    const std::uint32_t window = std::min(kOptimalWindow, n);
    try {
        // Level 9's stream where it is shorter: on long runs (flat pictures) its exact search among the
        // candidates of its smaller window can beat a parse that takes long matches as it finds them. It
        // costs a thirtieth of the parse's time at most.
        const auto level9 = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        // Both passes report to the caller; a cancel in either ends the whole.
        struct Relay
        {
            JcProgress progress;
            void* context;
            bool cancelled = false;
        } relay{progress, progressContext};
        auto relayed = [](std::uint32_t consumed, std::uint32_t written, void* context) {
            auto* r = static_cast<Relay*>(context);
            r->cancelled = r->progress(consumed, written, r->context) == 0;
            return r->cancelled ? 0 : 1;
        };
        const std::size_t short9 = JcCompress(source, length, level9.get(), capacity, kDefaultWindow, TakeWorkArea,
                                              GiveWorkArea, progress ? +relayed : nullptr, &relay, noChecksum);
        if (relay.cancelled)
            return 0;
        // Data level 9 packs to under 1/64 (flat pictures, short periods) is long runs, where its exact
        // search already finds the best the parse would (measured: never worse), in a fiftieth of the time.
        if (short9 != 0 && short9 < length / kRunsFraction) {
            std::memcpy(destination, level9.get(), short9);
            return short9;
        }
        OptimalEncoder encoder(source, n, window, destination, capacity);
        const std::size_t parsed = encoder.Run(noChecksum, progress ? +relayed : nullptr, &relay);
        if (relay.cancelled)
            return 0; // not level 9's stream: the caller asked for nothing
        if (short9 != 0 && (parsed == 0 || short9 < parsed)) {
            std::memcpy(destination, level9.get(), short9);
            return short9;
        }
        return parsed;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace hexaloom
