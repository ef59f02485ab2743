#include "svgchart.h"

#include "bartext.h"
#include "pricescale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace quelm::chart {

using bartext::numberText;
namespace {

// Okabe and Ito's blue and vermillion stay apart for every common colour-vision deficiency;
// rising bodies are hollow and falling ones filled, which tells them apart in grey as well.
constexpr std::string_view risingColour = "#0072B2";
constexpr std::string_view fallingColour = "#D55E00";

constexpr int marginLeft = 8;
constexpr int marginRight = 72;
constexpr int marginTop = 36;
constexpr int marginBottom = 44;
constexpr int paneGap = 10;
constexpr double labelSpacing = 100;

void piece(std::string &out, std::string_view text)
{
    out += text;
}

// A coordinate to the hundredth of a pixel, in its shortest text.
void piece(std::string &out, double value)
{
    double rounded = std::round(value * 100) / 100;
    if (rounded == 0) {
        rounded = 0; // not "-0"
    }
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, rounded).ptr);
}

void piece(std::string &out, int value)
{
    char text[16];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

template <typename... Parts> void add(std::string &out, const Parts &...parts)
{
    (piece(out, parts), ...);
}

// Where the parts of the chart go.
struct Layout
{
    int width;
    int height;
    double left = marginLeft;
    double right;
    double priceTop = marginTop;
    double priceBottom;
    double volumeTop;
    double volumeBottom;

    Layout(int w, int h) : width(w), height(h), right(w - marginRight)
    {
        volumeBottom = h - marginBottom;
        const double panes = volumeBottom - priceTop - paneGap;
        volumeTop = volumeBottom - std::round(panes * 0.2);
        priceBottom = volumeTop - paneGap;
    }
};

std::string timeText(std::int64_t ms)
{
    char text[bartext::maxTimeLength];
    return std::string(text, bartext::writeTime(text, ms));
}

// What a reader hovering over a candle sees: its time, its bars and its values.
std::string candleTitle(const Candle &candle)
{
    std::string text = timeText(candle.firstTimeMs);
    if (candle.bars > 1) {
        text += " to " + timeText(candle.lastTimeMs) + ", bars " + std::to_string(candle.firstBar) +
                " to " + std::to_string(candle.firstBar + candle.bars - 1) + " (" +
                std::to_string(candle.bars) + " bars)";
    } else {
        text += ", bar " + std::to_string(candle.firstBar);
    }
    return text + ": open " + numberText(candle.open) + ", high " + numberText(candle.high) +
           ", low " + numberText(candle.low) + ", close " + numberText(candle.close) + ", volume " +
           numberText(candle.volume);
}

void drawNote(std::string &out, const Layout &at, const std::string &note)
{
    add(out, "<text id=\"note\" x=\"", (at.left + at.right) / 2, "\" y=\"",
        (at.priceTop + at.priceBottom) / 2, "\" text-anchor=\"middle\" font-size=\"18\">",
        xmlText(note), "</text>\n");
}

} // namespace

std::size_t plotColumns(int width)
{
    return static_cast<std::size_t>(std::max(1, width - marginLeft - marginRight));
}

std::string xmlText(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string svgChart(const std::vector<Candle> &candles, const Zone &zone, int width, int height,
                     const ChartText &text)
{
    const Layout at(width, height);
    std::string out;
    out.reserve(4096 + candles.size() * 400);
    add(out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"",
        width, "\" height=\"", height, "\" viewBox=\"0 0 ", width, " ", height,
        "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"11\">\n<title>",
        xmlText(text.title), "</title>\n<desc>", xmlText(text.description), "</desc>\n",
        "<rect width=\"", width, "\" height=\"", height, "\" fill=\"#ffffff\"/>\n",
        "<text id=\"heading\" x=\"", at.left, "\" y=\"22\" font-size=\"15\" fill=\"#222222\">",
        xmlText(text.title), "</text>\n");
    const auto pane = [&](std::string_view id, double top, double bottom) {
        add(out, "<rect id=\"", id, "\" x=\"", at.left, "\" y=\"", top, "\" width=\"",
            at.right - at.left, "\" height=\"", bottom - top,
            "\" fill=\"none\" stroke=\"#999999\"/>\n");
    };
    pane("price-pane", at.priceTop, at.priceBottom);
    pane("volume-pane", at.volumeTop, at.volumeBottom);

    double lowest = 0;
    double highest = 0;
    double mostVolume = 0;
    bool any = false;
    for (const Candle &candle : candles) {
        if (candle.drawn) {
            lowest = any ? std::min(lowest, candle.low) : candle.low;
            highest = any ? std::max(highest, candle.high) : candle.high;
            mostVolume = std::max(mostVolume, candle.volume);
            any = true;
        }
    }
    if (!any) {
        drawNote(out, at, text.note);
        return out + "</svg>\n";
    }

    const PriceScale scale = priceScale(lowest, highest, at.priceBottom - at.priceTop);
    const auto yOf = [&](double price) {
        return at.priceTop +
               (scale.top - price) / (scale.top - scale.bottom) * (at.priceBottom - at.priceTop);
    };
    const double slot = (at.right - at.left) / static_cast<double>(candles.size());
    // Each candle's centre is the middle of a pixel column, so that a 1-pixel line is sharp.
    const auto xOf = [&](std::size_t c) {
        return at.left + std::floor((static_cast<double>(c) + 0.5) * slot) + 0.5;
    };
    const double halfBody = std::floor(slot * 0.35);
    const std::vector<TimeTick> ticks = timeTicks(candles, zone, slot, labelSpacing);

    out += "<g id=\"grid\" stroke=\"#e6e6e6\">\n";
    for (const double tick : scale.ticks) {
        add(out, "<path d=\"M", at.left, " ", std::round(yOf(tick)) + 0.5, "H", at.right, "\"/>\n");
    }
    for (const TimeTick &tick : ticks) {
        add(out, "<path d=\"M", xOf(tick.candle), " ", at.priceTop, "V", at.volumeBottom, "\"/>\n");
    }
    out += "</g>\n";

    if (mostVolume > 0) {
        const double tallest = at.volumeBottom - at.volumeTop - 2;
        for (const bool rising : {true, false}) {
            add(out, "<g id=\"volume-", rising ? "rising" : "falling", "\" fill=\"",
                rising ? risingColour : fallingColour, "\" fill-opacity=\"0.5\">\n");
            for (std::size_t c = 0; c < candles.size(); ++c) {
                const Candle &candle = candles[c];
                if (!candle.drawn || (candle.close >= candle.open) != rising ||
                    candle.volume <= 0) {
                    continue;
                }
                const double tall = candle.volume / mostVolume * tallest;
                const double half = std::max(0.5, halfBody);
                add(out, "<rect x=\"", xOf(c) - half, "\" y=\"", at.volumeBottom - tall,
                    "\" width=\"", 2 * half, "\" height=\"", tall, "\"/>\n");
            }
            out += "</g>\n";
        }
    }

    // A wick above and one below the body, so that a hollow body stays empty.
    for (const bool rising : {true, false}) {
        add(out, "<g id=\"candles-", rising ? "rising" : "falling", "\" fill=\"",
            rising ? std::string_view("#ffffff") : fallingColour, "\" stroke=\"",
            rising ? risingColour : fallingColour, "\">\n");
        for (std::size_t c = 0; c < candles.size(); ++c) {
            const Candle &candle = candles[c];
            if (!candle.drawn || (candle.close >= candle.open) != rising) {
                continue;
            }
            const double x = xOf(c);
            const double high = yOf(candle.high);
            const double low = std::max(yOf(candle.low), high + 1);
            if (halfBody < 1) {
                add(out, "<path d=\"M", x, " ", high, "V", low);
            } else {
                const double bodyTop = yOf(std::max(candle.open, candle.close));
                const double bodyBottom = yOf(std::min(candle.open, candle.close));
                add(out, "<path d=\"M", x, " ", high, "V", bodyTop, "M", x, " ", bodyBottom, "V",
                    low, "M", x - halfBody, " ", bodyTop, "H", x + halfBody, "V", bodyBottom, "H",
                    x - halfBody, "Z");
            }
            add(out, "\"><title>", candleTitle(candle), "</title></path>\n");
        }
        out += "</g>\n";
    }

    add(out, "<g id=\"price-labels\" fill=\"#222222\">\n");
    for (const double tick : scale.ticks) {
        add(out, "<text x=\"", at.right + 6, "\" y=\"", yOf(tick), "\" dy=\"4\">",
            tickText(tick, scale.decimals), "</text>\n");
    }
    add(out, "</g>\n<g id=\"time-labels\" fill=\"#222222\">\n");
    for (const TimeTick &tick : ticks) {
        const double x = xOf(tick.candle) + 3;
        add(out, "<text x=\"", x, "\" y=\"", at.volumeBottom + 15, "\">", tick.label, "</text>\n");
        if (!tick.date.empty()) {
            add(out, "<text x=\"", x, "\" y=\"", at.volumeBottom + 30, "\">", tick.date,
                "</text>\n");
        }
    }
    add(out, "</g>\n<text id=\"volume-label\" x=\"", at.right + 6, "\" y=\"", at.volumeTop + 12,
        "\" fill=\"#222222\">", xmlText(numberText(mostVolume)), "</text>\n",
        "<text id=\"zone\" x=\"", width - 6, "\" y=\"", at.volumeBottom + 30,
        "\" text-anchor=\"end\" fill=\"#222222\">", xmlText(zone.name()), "</text>\n</svg>\n");
    return out;
}

} // namespace quelm::chart
