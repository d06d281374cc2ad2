#include "tree/WildMatch.h"

#include <vector>

namespace velmor {
namespace {

struct Token {
    enum Kind { Star, One, Digit, Set, Literal, Nothing } kind;
    QChar ch;                                 // Literal
    std::vector<std::pair<QChar, QChar>> ranges;  // Set
    bool negated = false;                     // Set

    bool accepts(QChar c) const
    {
        switch (kind) {
        case One: return true;
        case Digit: return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        case Literal: return c == ch;
        case Set: {
            bool in = false;
            for (const auto& [lo, hi] : ranges)
                if (c >= lo && c <= hi) { in = true; break; }
            return in != negated;
        }
        default: return false;
        }
    }
};

std::vector<Token> tokenize(const QString& pattern)
{
    std::vector<Token> out;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('*')) {
            if (out.empty() || out.back().kind != Token::Star)
                out.push_back({Token::Star, {}, {}, false});
        } else if (c == QLatin1Char('?')) {
            out.push_back({Token::One, {}, {}, false});
        } else if (c == QLatin1Char('#')) {
            out.push_back({Token::Digit, {}, {}, false});
        } else if (c == QLatin1Char('[')) {
            const qsizetype close = pattern.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0)
                throw PatternError("pattern has an unclosed '[': " + pattern.toStdString());
            Token t{Token::Set, {}, {}, false};
            qsizetype j = i + 1;
            if (j < close && pattern[j] == QLatin1Char('!')) {
                t.negated = true;
                ++j;
            }
            if (j == close && !t.negated) {
                // "[]" stands for nothing: it consumes no character.
                out.push_back({Token::Nothing, {}, {}, false});
                i = close;
                continue;
            }
            while (j < close) {
                QChar lo = pattern[j];
                if (j + 2 < close && pattern[j + 1] == QLatin1Char('-')) {
                    QChar hi = pattern[j + 2];
                    if (hi < lo) std::swap(lo, hi);
                    t.ranges.emplace_back(lo, hi);
                    j += 3;
                } else {
                    t.ranges.emplace_back(lo, lo);
                    ++j;
                }
            }
            out.push_back(std::move(t));
            i = close;
        } else {
            out.push_back({Token::Literal, c, {}, false});
        }
    }
    return out;
}

} // namespace

bool WildMatch(const QString& textIn, const QString& patternIn)
{
    const std::vector<Token> toks = tokenize(patternIn.toLower());
    const QString text = textIn.toLower();
    const qsizetype n = text.size();
    const size_t m = toks.size();

    // Classic single-star backtracking: every token but "*" and "[]" consumes
    // exactly one character, so remembering the last star suffices.
    qsizetype ti = 0;
    size_t pi = 0;
    size_t starP = SIZE_MAX;
    qsizetype starT = 0;
    while (true) {
        if (pi < m && toks[pi].kind == Token::Nothing) {
            ++pi;
            continue;
        }
        if (pi < m && toks[pi].kind == Token::Star) {
            starP = pi++;
            starT = ti;
            continue;
        }
        if (ti < n && pi < m && toks[pi].accepts(text[ti])) {
            ++ti;
            ++pi;
            continue;
        }
        if (ti == n && pi == m)
            return true;
        if (starP != SIZE_MAX && starT < n) {
            pi = starP + 1;
            ti = ++starT;
            continue;
        }
        return false;
    }
}

} // namespace velmor
