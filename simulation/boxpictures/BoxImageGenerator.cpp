#include "BoxImageGenerator.h"

#include "DarknetLabels.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

std::uint64_t splitmix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// cv::RNG rather than <random>: its sequence is OpenCV's own, not the C++ library's.
cv::RNG rngFor(std::uint64_t seed, int index, int salt)
{
    std::uint64_t s = splitmix(seed ^ splitmix(std::uint64_t(index) * 4 + std::uint64_t(salt)));
    return cv::RNG(s ? s : 1);
}

struct DotSpec
{
    enum Kind { Dot, Drop, Smear };
    Kind kind = Dot;
    cv::Point2f centre;
    float semiMajor = 10;
    float semiMinor = 10;
    float angleRad = 0;
};

double uni(cv::RNG &rng, double a, double b) { return rng.uniform(a, b); }

// A BGR colour's grey as the camera sees it.
double grey(const cv::Scalar &c) { return 0.114 * c[0] + 0.587 * c[1] + 0.299 * c[2]; }

cv::Scalar jitter(cv::RNG &rng, cv::Scalar c, double amount)
{
    for (int k = 0; k < 3; ++k)
        c[k] = std::clamp(c[k] + uni(rng, -amount, amount), 0.0, 255.0);
    return c;
}

// A thread's working pictures, kept from one picture to the next: allocated anew for each
// picture, their pages cost a fifth of the drawing time in page faults. What a picture
// hands out is always its own.
struct Workspace
{
    cv::Mat canvas, field, low, mid, texture, fibres, grey, noise, bgr, keepOut, print, overlap;
};

Workspace &workspace()
{
    thread_local Workspace w;
    return w;
}

// Smooth random field in [-1, 1] at the given cell size, in the workspace's field: valid
// until the next call on the thread.
cv::Mat smoothField(cv::RNG &rng, cv::Size size, int cellPx)
{
    cv::Mat small(std::max(2, size.height / cellPx + 2), std::max(2, size.width / cellPx + 2), CV_32F);
    rng.fill(small, cv::RNG::UNIFORM, -1.0, 1.0);
    cv::Mat &big = workspace().field;
    cv::resize(small, big, size, 0, 0, cv::INTER_CUBIC);
    return big;
}

std::string randomText(cv::RNG &rng, int minLength = 2, int maxLength = 11)
{
    static const char alphabet[] = "ABCDEFGHJKLMNPRSTUVWXYZ0123456789-/";
    std::string s;
    const int n = rng.uniform(minLength, maxLength + 1);
    for (int i = 0; i < n; ++i)
        s += alphabet[rng.uniform(0, int(sizeof alphabet) - 1)];
    return s;
}

// Flat print: text, bars, frames, rings and large discs. Round print stays either hollow,
// marked or larger than any glue dot, as on real cartons. The glue gun works on bare board
// (the flaps), so no element may touch `keepOut`; an element that would is left out.
void drawPrint(cv::RNG &rng, cv::Mat &canvas, const cv::Rect &face, cv::Scalar paper, const cv::Mat &keepOut,
               bool smallPrint, bool glueLike = false)
{
    Workspace &w = workspace();
    w.print.create(canvas.size(), CV_8U);
    cv::Mat &scratch = w.print;
    // Every element is planned first (all random draws), then drawn once on a scratch mask
    // to test it against the keep-out, so the draws do not depend on what was left out.
    auto place = [&](const std::function<void(cv::Mat &, const cv::Scalar &)> &draw, const cv::Scalar &colour) {
        scratch.setTo(0);
        draw(scratch, cv::Scalar(255, 255, 255));
        cv::dilate(scratch, scratch, cv::Mat(), cv::Point(-1, -1), 2);
        cv::bitwise_and(scratch, keepOut, w.overlap);
        if (cv::countNonZero(w.overlap) == 0)
            draw(canvas, colour);
    };
    const bool dark = cv::sum(paper)[0] > 330;
    auto ink = [&]() {
        if (rng.uniform(0, 3) == 0)
            return cv::Scalar(uni(rng, 0, 255), uni(rng, 0, 255), uni(rng, 0, 255));
        const double v = dark ? uni(rng, 10, 110) : uni(rng, 150, 250);
        return jitter(rng, cv::Scalar(v, v, v), 20);
    };
    auto at = [&]() {
        return cv::Point(rng.uniform(face.x, face.x + face.width), rng.uniform(face.y, face.y + face.height));
    };
    const int blocks = rng.uniform(0, 4);
    for (int i = 0; i < blocks; ++i) {
        const cv::Point p = at();
        const cv::Rect r(p, cv::Size(rng.uniform(40, 300), rng.uniform(30, 200)));
        const cv::Scalar c = ink();
        const int thickness = rng.uniform(0, 2) ? cv::FILLED : rng.uniform(1, 5);
        place([&](cv::Mat &m, const cv::Scalar &col) { cv::rectangle(m, r, col, thickness, cv::LINE_AA); }, c);
    }
    auto printText = [&](int minLength, int maxLength, double minScale, double maxScale) {
        const std::string text = randomText(rng, minLength, maxLength);
        const cv::Point p = at();
        const int font = rng.uniform(0, 8);
        const double scale = uni(rng, minScale, maxScale);
        const cv::Scalar c = ink();
        // Strokes grow with the type size: small print set bold fills in to a blob that
        // nobody, camera or person, could tell from a drop of glue.
        const int thickness = std::min(rng.uniform(1, 4), std::max(1, int(scale * 1.5 + 0.5)));
        place([&](cv::Mat &m, const cv::Scalar &col) {
            cv::putText(m, text, p, font, scale, col, thickness, cv::LINE_AA);
        }, c);
    };
    // The hole stays wider than the line, or a small ring is a dot.
    auto printRing = [&](const cv::Point &c, const cv::Scalar &colour, int minRadius, int maxRadius) {
        const int r = rng.uniform(minRadius, maxRadius + 1);
        const int thickness = std::min(rng.uniform(1, 4), std::max(1, r / 4));
        place([&](cv::Mat &m, const cv::Scalar &col) { cv::circle(m, c, r, col, thickness, cv::LINE_AA); }, colour);
    };
    const int texts = rng.uniform(0, 7);
    for (int i = 0; i < texts; ++i)
        printText(2, 11, 0.4, 2.2);
    if (rng.uniform(0, 4) == 0) { // bar code
        const cv::Point p = at();
        const int height = rng.uniform(30, 90);
        const cv::Scalar c = ink();
        std::vector<cv::Rect> bars;
        int x = p.x;
        for (int i = 0, n = rng.uniform(20, 50); i < n; ++i) {
            const int w = rng.uniform(1, 5);
            if (rng.uniform(0, 2))
                bars.emplace_back(x, p.y, w, height);
            x += w + rng.uniform(1, 4);
        }
        place([&](cv::Mat &m, const cv::Scalar &col) {
            for (const cv::Rect &b : bars)
                cv::rectangle(m, b, col, cv::FILLED);
        }, c);
    }
    const int lines = rng.uniform(0, 4);
    for (int i = 0; i < lines; ++i) {
        const cv::Point a = at(), b = at();
        const cv::Scalar c = ink();
        const int thickness = rng.uniform(1, 6);
        place([&](cv::Mat &m, const cv::Scalar &col) { cv::line(m, a, b, col, thickness, cv::LINE_AA); }, c);
    }
    const int rounds = rng.uniform(0, 5);
    for (int i = 0; i < rounds; ++i) {
        const cv::Point c = at();
        const cv::Scalar colour = ink();
        switch (rng.uniform(0, 5)) {
        case 0:
            printRing(c, colour, 6, 44);
            break;
        case 1: { // target
            std::vector<int> radii;
            for (int r = rng.uniform(20, 50); r > 4; r -= rng.uniform(5, 10))
                radii.push_back(r);
            place([&](cv::Mat &m, const cv::Scalar &col) {
                for (int r : radii)
                    cv::circle(m, c, r, col, 2, cv::LINE_AA);
            }, colour);
            break;
        }
        case 2: { // disc with a mark inside
            const int r = rng.uniform(16, 30);
            const std::string mark(1, char('A' + rng.uniform(0, 26)));
            place([&](cv::Mat &m, const cv::Scalar &col) {
                cv::circle(m, c, r, col, cv::FILLED, cv::LINE_AA);
                if (m.type() == canvas.type())
                    cv::putText(m, mark, c - cv::Point(r / 2, -r / 2), cv::FONT_HERSHEY_SIMPLEX, r / 22.0, paper, 2,
                                cv::LINE_AA);
            }, colour);
            break;
        }
        case 3: { // disc larger than any glue dot
            const int r = rng.uniform(26, 60);
            place([&](cv::Mat &m, const cv::Scalar &col) { cv::circle(m, c, r, col, cv::FILLED, cv::LINE_AA); },
                  colour);
            break;
        }
        default: { // halftone of specks far smaller than glue
            const int step = rng.uniform(6, 12);
            const int n = rng.uniform(3, 9);
            std::vector<std::pair<cv::Point, int>> specks;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    specks.emplace_back(c + cv::Point(x * step, y * step), rng.uniform(1, 3));
            place([&](cv::Mat &m, const cv::Scalar &col) {
                for (const auto &sp : specks)
                    cv::circle(m, sp.first, sp.second, col, cv::FILLED, cv::LINE_AA);
            }, colour);
        }
        }
    }
    if (smallPrint) {
        for (int i = 0, n = rng.uniform(2, 7); i < n; ++i)
            printText(1, 3, 0.3, 0.9);
        for (int i = 0, n = rng.uniform(1, 5); i < n; ++i) {
            const cv::Point c = at();
            const cv::Scalar colour = ink();
            printRing(c, colour, 6, 12);
        }
    }
    if (glueLike) {
        // Print of a dot's size that is still print to a person: discs with a knocked-out
        // character, thin rings, solid triangles and squares. Its ink stands well off the
        // board in grey, or the mark in a disc fades and the disc is a dot of glue.
        for (int i = 0, n = rng.uniform(1, 6); i < n; ++i) {
            const cv::Point c = at();
            cv::Scalar colour = ink();
            if (std::abs(grey(colour) - grey(paper)) < 60)
                colour = grey(paper) > 128 ? cv::Scalar::all(uni(rng, 10, grey(paper) - 60))
                                           : cv::Scalar::all(uni(rng, grey(paper) + 60, 250));
            switch (rng.uniform(0, 3)) {
            case 0: {
                const int r = rng.uniform(11, 22);
                const std::string mark(1, char('A' + rng.uniform(0, 26)));
                place([&](cv::Mat &m, const cv::Scalar &col) {
                    cv::circle(m, c, r, col, cv::FILLED, cv::LINE_AA);
                    if (m.type() == canvas.type())
                        cv::putText(m, mark, c + cv::Point(-r / 2, r / 2), cv::FONT_HERSHEY_SIMPLEX, r / 22.0, paper, 2,
                                    cv::LINE_AA);
                }, colour);
                break;
            }
            case 1:
                printRing(c, colour, 6, 21);
                break;
            default: {
                const int r = rng.uniform(8, 22);
                std::vector<cv::Point> shape;
                if (rng.uniform(0, 2))
                    shape = {c + cv::Point(0, -r), c + cv::Point(-r, r * 2 / 3), c + cv::Point(r, r * 2 / 3)};
                else
                    shape = {c + cv::Point(-r * 3 / 4, -r * 3 / 4), c + cv::Point(r * 3 / 4, -r * 3 / 4),
                             c + cv::Point(r * 3 / 4, r * 3 / 4), c + cv::Point(-r * 3 / 4, r * 3 / 4)};
                place([&](cv::Mat &m, const cv::Scalar &col) { cv::fillConvexPoly(m, shape, col, cv::LINE_AA); },
                      colour);
            }
            }
        }
    }
}

// The canvas around a dot that its soft edge may reach.
cv::Rect reachOf(const cv::Mat &canvas, const DotSpec &d)
{
    const float reach = d.semiMajor * 1.3f + 3;
    return cv::Rect(int(d.centre.x - reach), int(d.centre.y - reach), int(2 * reach) + 1, int(2 * reach) + 1) &
           cv::Rect(0, 0, canvas.cols, canvas.rows);
}

// A dot's slightly irregular outline: three low harmonics of its radius.
struct Wobble
{
    double amp[3], phase[3];
};

Wobble wobbleFor(cv::RNG &rng, const DotSpec &d)
{
    Wobble w;
    for (int k = 0; k < 3; ++k) {
        w.amp[k] = d.kind == DotSpec::Smear ? uni(rng, 0, 0.15) : uni(rng, 0, 0.06);
        w.phase[k] = uni(rng, 0, 2 * CV_PI);
    }
    return w;
}

// Calls paint(pixel, dx, dy, u, v, r, alpha) for each pixel of the dot's footprint: (dx, dy)
// from its centre, (u, v) in its own axes scaled to its semi-axes, r the radius over the
// wobbly outline, alpha its soft edge of width `edge`, half-way at the labelled outline.
template <typename Paint>
void paintFootprint(cv::Mat &canvas, const DotSpec &d, const Wobble &w, double edge, Paint paint)
{
    const cv::Rect area = reachOf(canvas, d);
    const double ca = std::cos(d.angleRad), sa = std::sin(d.angleRad);
    for (int y = area.y; y < area.y + area.height; ++y) {
        cv::Vec3f *row = canvas.ptr<cv::Vec3f>(y);
        for (int x = area.x; x < area.x + area.width; ++x) {
            const double dx = x + 0.5 - d.centre.x, dy = y + 0.5 - d.centre.y;
            const double u = (dx * ca + dy * sa) / d.semiMajor;
            const double v = (-dx * sa + dy * ca) / d.semiMinor;
            const double theta = std::atan2(v, u);
            double wobble = 1.0;
            for (int k = 0; k < 3; ++k)
                wobble += w.amp[k] * std::cos((k + 2) * theta + w.phase[k]);
            const double r = std::sqrt(u * u + v * v) / wobble;
            if (r > 1.0 + edge)
                continue;
            const double t = std::clamp((1.0 + edge / 2 - r) / edge, 0.0, 1.0);
            paint(row[x], dx, dy, u, v, r, t * t * (3 - 2 * t));
        }
    }
}

// Renders one blob of glue: a slightly irregular dome with soft edges, shading from one
// side, a gloss highlight and sometimes a dark rim.
void drawGlue(cv::RNG &rng, cv::Mat &canvas, const DotSpec &d, bool brighter, double contrast,
              cv::Scalar tint)
{
    const double edge = uni(rng, 0.08, 0.3);
    const double lightAngle = uni(rng, 0, 2 * CV_PI);
    const double lx = std::cos(lightAngle), ly = std::sin(lightAngle);
    const double shade = uni(rng, 0.0, 0.35) * contrast;
    const double gloss = rng.uniform(0, 3) ? uni(rng, 0.0, 1.0) : 0.0;
    const double glossSigma = uni(rng, 0.12, 0.3);
    const double rim = rng.uniform(0, 3) == 0 ? uni(rng, 0.1, 0.4) * contrast : 0.0;
    const Wobble wobble = wobbleFor(rng, d);
    const double sign = brighter ? 1.0 : -1.0;
    paintFootprint(canvas, d, wobble, edge, [&](cv::Vec3f &px, double, double, double u, double v, double r,
                                                double alpha) {
        const double nx = u, ny = v; // slope of the dome
        double lift = sign * contrast + shade * (nx * lx + ny * ly);
        const double gx = u + 0.35 * lx, gy = v + 0.35 * ly;
        lift += gloss * 90.0 * std::exp(-(gx * gx + gy * gy) / (2 * glossSigma * glossSigma));
        lift -= rim * std::exp(-std::pow((r - 0.9) / 0.12, 2));
        for (int k = 0; k < 3; ++k) {
            const double target = px[k] + lift * tint[k];
            px[k] = float(px[k] * (1 - alpha) + target * alpha);
        }
    });
}

// Renders one blob of glue from a height profile lit by one light or several: the shapes
// and highlights that drawGlue's single soft gloss cannot show. A flat or wetting drop
// catches light only at its edge, a dome under a small light gives a sharp saturated spot
// off its centre, and under a ring light a ring of highlights.
void drawGlueLit(cv::RNG &rng, cv::Mat &canvas, const DotSpec &d, bool brighter, double contrast, cv::Scalar tint)
{
    enum Profile { Dome, Flat, Rim, Meniscus };
    enum Gloss { Matte, Soft, Sharp, Ring, Several };
    const int profile = rng.uniform(0, 4);
    const int gloss = rng.uniform(0, 5);
    const double edge = uni(rng, 0.05, 0.3);
    const double steep = uni(rng, 0.4, 2.5); // height over radius
    const double tilt = uni(rng, 0.15, 0.9); // the lights' angle off the camera's axis
    const double azimuth = uni(rng, 0, 2 * CV_PI);
    const int lights = gloss == Ring ? 16 : gloss == Several ? rng.uniform(2, 5) : 1;
    std::vector<cv::Vec3d> halfway; // Blinn-Phong: between each light and the camera
    cv::Vec3d key;
    for (int i = 0; i < lights; ++i) {
        const double az = gloss == Ring ? azimuth + 2 * CV_PI * i / lights : gloss == Several ? uni(rng, 0, 2 * CV_PI) : azimuth;
        const double t = gloss == Several ? uni(rng, 0.1, 0.9) : tilt;
        const cv::Vec3d l(std::sin(t) * std::cos(az), std::sin(t) * std::sin(az), std::cos(t));
        if (i == 0)
            key = l;
        halfway.push_back(cv::normalize(l + cv::Vec3d(0, 0, 1)));
    }
    // Each kind's highlight: the range of its Blinn-Phong exponent (how sharp) and of its
    // strength, by Gloss.
    struct Highlight
    {
        double exponentLow, exponentHigh, strengthLow, strengthHigh;
    };
    static const Highlight kHighlights[] = {
        {1, 1, 0, 0},         // Matte: none
        {8, 30, 25, 90},      // Soft
        {150, 900, 140, 260}, // Sharp
        {60, 300, 60, 200},   // Ring
        {80, 500, 80, 220},   // Several
    };
    const Highlight &highlight = kHighlights[gloss];
    double exponent = 1, amplitude = 0;
    if (gloss != Matte) {
        exponent = uni(rng, highlight.exponentLow, highlight.exponentHigh);
        amplitude = uni(rng, highlight.strengthLow, highlight.strengthHigh);
    }
    const double shade = uni(rng, 0.0, 0.5) * contrast;
    const double rim = rng.uniform(0, 3) == 0 ? uni(rng, 0.1, 0.4) * contrast : 0.0;
    // The glue's own tone: opaque glue covers the board evenly; translucent glue tints it by
    // its thickness, so that it fades out towards its outline; clear glue barely tints it
    // and shows by the light it bends at its edge (a soft band, darker or brighter) and by
    // its highlights.
    enum Body { Opaque, Translucent, Clear };
    const int body = rng.uniform(0, 4) < 2 ? Opaque : rng.uniform(0, 3) ? Translucent : Clear;
    const double fade = uni(rng, 0.4, 1.2); // how fast translucent glue thins towards its edge
    const double bodyTone = body == Clear ? uni(rng, 0.1, 0.35) : 1.0;
    const double bend = body == Clear ? (rng.uniform(0, 3) ? -1 : 1) * uni(rng, 0.5, 1.1) * std::max(contrast, 35.0)
                                      : 0.0;
    if (body == Clear && gloss == Matte) { // clear glue always catches some light
        exponent = uni(rng, kHighlights[Soft].exponentLow, kHighlights[Sharp].exponentHigh);
        amplitude = uni(rng, kHighlights[Soft].strengthLow, kHighlights[Sharp].strengthLow);
    }
    const Wobble wobble = wobbleFor(rng, d);
    const double sign = brighter ? 1.0 : -1.0;
    paintFootprint(canvas, d, wobble, edge, [&](cv::Vec3f &px, double dx, double dy, double, double, double r,
                                                double alpha) {
        const double q = std::min(r, 0.999);
        double slope = 0; // dh/dr of the profile, height 1 at the top
        switch (profile) {
        case Dome:
            slope = -q / std::sqrt(1 - q * q + 0.02);
            break;
        case Flat:
            slope = q > 0.7 ? -(q - 0.7) / 0.3 * 4 : 0.0;
            break;
        case Rim: {
            const double bump = 0.5 * std::exp(-std::pow((q - 0.82) / 0.1, 2));
            slope = -0.5 * q / std::sqrt(1 - q * q + 0.02) - bump * 2 * (q - 0.82) / 0.01;
            break;
        }
        default: // wets the board: hollow in the middle, a steep edge
            slope = q < 0.88 ? 2.8 * q * q * q : -8.0;
        }
        const double g = steep * slope;
        const double dir = std::atan2(dy, dx);
        const cv::Vec3d n = cv::normalize(cv::Vec3d(-g * std::cos(dir), -g * std::sin(dir), 1.0));
        double tone = bodyTone;
        if (body == Translucent)
            tone = std::pow(std::max(0.0, 1 - q * q), fade);
        double lift = sign * contrast * tone + shade * (n.dot(key) - key[2]);
        lift -= rim * std::exp(-std::pow((r - 0.9) / 0.12, 2));
        lift += bend * std::exp(-std::pow((r - 0.86) / 0.13, 2));
        double glint = 0;
        for (const cv::Vec3d &h : halfway)
            glint += std::pow(std::max(0.0, n.dot(h)), exponent);
        glint *= amplitude;
        for (int k = 0; k < 3; ++k) {
            const double target = px[k] + lift * tint[k] + glint; // highlights are the light's colour
            px[k] = float(px[k] * (1 - alpha) + target * alpha);
        }
    });
}

cv::Rect2f outline(const DotSpec &d)
{
    const double c = std::cos(d.angleRad), s = std::sin(d.angleRad);
    const double hw = std::sqrt(std::pow(d.semiMajor * c, 2) + std::pow(d.semiMinor * s, 2));
    const double hh = std::sqrt(std::pow(d.semiMajor * s, 2) + std::pow(d.semiMinor * c, 2));
    return cv::Rect2f(float(d.centre.x - hw), float(d.centre.y - hh), float(2 * hw), float(2 * hh));
}

// The camera's grey of a canvas pixel: nothing under black, burnt out above 255.
double seenGrey(const cv::Vec3f &p)
{
    return std::clamp(grey(cv::Scalar(p[0], p[1], p[2])), 0.0, 255.0);
}

// Whether a dot's inner part differs visibly from the board and print under it: most of it,
// and on each side of an edge of print that runs under it. Glue that shows only on the
// board half is, to a person, a notch in the print's edge, not a dot; a network taught to
// count it counts the corners and edges of print.
// Returns the grey level under the brighter side through `brighterSide`.
bool visible(const cv::Mat &before, const cv::Mat &after, const DotSpec &d, cv::Point origin, double *brighterSide)
{
    std::vector<std::pair<double, double>> inner; // (grey before, change)
    int band = 0, bandChanged = 0; // the outer part, where clear glue shows
    double bandTotal = 0;
    const double ca = std::cos(d.angleRad), sa = std::sin(d.angleRad);
    double lowest = 255, highest = 0;
    for (int y = 0; y < before.rows; ++y)
        for (int x = 0; x < before.cols; ++x) {
            const double dx = origin.x + x + 0.5 - d.centre.x, dy = origin.y + y + 0.5 - d.centre.y;
            const double u = (dx * ca + dy * sa) / d.semiMajor, v = (-dx * sa + dy * ca) / d.semiMinor;
            const double rr = u * u + v * v;
            if (rr > 1.0)
                continue;
            const double a = seenGrey(before.at<cv::Vec3f>(y, x));
            const double change = std::abs(seenGrey(after.at<cv::Vec3f>(y, x)) - a);
            if (rr > 0.64) {
                ++band;
                bandChanged += change >= 14;
                bandTotal += change;
                continue;
            }
            inner.emplace_back(a, change);
            lowest = std::min(lowest, a);
            highest = std::max(highest, a);
        }
    // Print and board apart when their levels lie further apart than the board's grain.
    const double split = highest - lowest >= 50 ? (highest + lowest) / 2 : -1;
    struct Side
    {
        int pixels = 0, changed = 0;
        double total = 0, level = 0;
    } sides[2];
    // Across an edge each side must show more: beside the edge's own contrast, a faint change
    // on one side reads as print.
    const double least = split < 0 ? 14 : 20;
    const double mean = split < 0 ? 20 : 30;
    for (const auto &[level, change] : inner) {
        Side &side = sides[level > split ? 1 : 0];
        ++side.pixels;
        side.changed += change >= least;
        side.total += change;
        side.level += level;
    }
    *brighterSide = sides[1].pixels ? sides[1].level / sides[1].pixels : 0;
    // The light, the exposure and the noise still to come take some of it away.
    auto shows = [&](int pixels, int changed, double total) {
        return changed >= pixels * 6 / 10 && total >= mean * pixels;
    };
    bool seen = true;
    for (const Side &side : sides) {
        // A sliver of print at the rim is no side of its own.
        if (side.pixels == 0 || side.pixels * 6 < int(inner.size()))
            continue;
        seen = seen && shows(side.pixels, side.changed, side.total);
    }
    // Clear glue on bare board is seen by the band of light bent at its edge, all round.
    return seen || (split < 0 && band > 0 && shows(band, bandChanged, bandTotal));
}

// drawGlueLit, with every dot left where a person sees it: glue as dark as the ink it
// lies on, or as faint as the board's grain, is no dot to count, so a dot that came out
// so is drawn again stronger, brighter where the brighter side leaves room above it.
void drawVisibleGlue(cv::RNG &rng, cv::Mat &canvas, const DotSpec &d, bool brighter, double contrast,
                     cv::Scalar tint)
{
    const cv::Rect area = reachOf(canvas, d);
    const cv::Mat before = canvas(area).clone();
    drawGlueLit(rng, canvas, d, brighter, contrast, tint);
    double brighterSide = 0;
    if (d.kind != DotSpec::Dot || visible(before, canvas(area), d, area.tl(), &brighterSide))
        return;
    const bool roomAbove = brighterSide < 215;
    for (const bool up : {roomAbove, !roomAbove}) {
        before.copyTo(canvas(area));
        drawGlueLit(rng, canvas, d, up, std::max(contrast, 60.0), cv::Scalar(1, 1, 1));
        if (visible(before, canvas(area), d, area.tl(), &brighterSide))
            return;
    }
}

DotSpec randomDot(cv::RNG &rng, cv::Point2f centre, double maxSemiMajor = 20.0)
{
    DotSpec d;
    d.centre = centre;
    d.semiMajor = float(uni(rng, 5.0, maxSemiMajor));
    d.semiMinor = float(d.semiMajor * uni(rng, 0.72, 1.0));
    d.angleRad = float(uni(rng, 0, CV_PI));
    return d;
}

DotSpec drop(cv::RNG &rng, cv::Point2f centre)
{
    DotSpec d;
    d.kind = DotSpec::Drop;
    d.centre = centre;
    d.semiMajor = float(uni(rng, 1.2, 2.5)); // a speck, clearly smaller than any dot
    d.semiMinor = float(d.semiMajor * uni(rng, 0.8, 1.0));
    return d;
}

DotSpec smear(cv::RNG &rng, cv::Point2f centre)
{
    DotSpec d;
    d.kind = DotSpec::Smear;
    d.centre = centre;
    d.semiMajor = float(uni(rng, 26.0, 45.0));
    d.semiMinor = float(uni(rng, 2.5, 6.0));
    d.angleRad = float(uni(rng, 0, CV_PI));
    return d;
}

bool fits(const std::vector<DotSpec> &placed, const DotSpec &d)
{
    for (const DotSpec &o : placed) {
        const double gap = cv::norm(o.centre - d.centre) - o.semiMajor - d.semiMajor;
        if (gap < 8)
            return false;
    }
    return true;
}

struct Scene
{
    cv::Mat canvas; // CV_32FC3
    cv::Rect face;
    cv::Scalar paper; // the board's colour

    double paperLevel() const { return (paper[0] + paper[1] + paper[2]) / 3; }
};

// Print goes on after the glue is planned, so that it can keep clear of it.
void printAround(cv::RNG &rng, Scene &s, const std::vector<DotSpec> &glue, bool smallPrint = false,
                 bool glueLike = false)
{
    cv::Mat &keepOut = workspace().keepOut;
    keepOut.create(s.canvas.size(), CV_8U);
    keepOut.setTo(0);
    for (const DotSpec &d : glue)
        cv::circle(keepOut, d.centre, int(d.semiMajor * 1.3f + 6), cv::Scalar(255), cv::FILLED);
    drawPrint(rng, s.canvas, s.face, s.paper, keepOut, smallPrint, glueLike);
}

// Dark bars and blocks whose edge runs under a dot, as where the glue gun's path crosses
// the print: the dot must still count, half on board and half on ink.
void printUnder(cv::RNG &rng, Scene &s, const std::vector<DotSpec> &glue)
{
    for (const DotSpec &d : glue) {
        if (rng.uniform(0, 2))
            continue;
        const double level = s.paperLevel() > 110 ? uni(rng, 10, 90) : uni(rng, 160, 240);
        const cv::Scalar ink = jitter(rng, cv::Scalar(level, level, level), 15);
        const int offset = int(uni(rng, -0.6, 0.6) * d.semiMajor);
        const int along = rng.uniform(20, 200), across = rng.uniform(20, 160);
        const int cx = int(d.centre.x), cy = int(d.centre.y);
        cv::Rect bar;
        switch (rng.uniform(0, 4)) {
        case 0: // edge on the left of the centre, ink to the right
            bar = cv::Rect(cx + offset, cy - along / 2, across, along);
            break;
        case 1:
            bar = cv::Rect(cx + offset - across, cy - along / 2, across, along);
            break;
        case 2:
            bar = cv::Rect(cx - along / 2, cy + offset, along, across);
            break;
        default:
            bar = cv::Rect(cx - along / 2, cy + offset - across, along, across);
        }
        cv::rectangle(s.canvas, bar & s.face, ink, cv::FILLED);
    }
}

// The bare board: colour, texture and fibres, on the belt or filling the view.
Scene carton(cv::RNG &rng, cv::Size size)
{
    Scene s;
    cv::Scalar paper;
    switch (rng.uniform(0, 3)) {
    case 0: // kraft board
        paper = jitter(rng, cv::Scalar(95, 145, 185), 25);
        break;
    case 1: // white board
        paper = jitter(rng, cv::Scalar(215, 218, 222), 25);
        break;
    default: // printed colour
        paper = cv::Scalar(uni(rng, 40, 240), uni(rng, 40, 240), uni(rng, 40, 240));
    }
    const cv::Scalar belt = jitter(rng, cv::Scalar(40, 40, 40), 25);
    Workspace &w = workspace();
    w.canvas.create(size, CV_32FC3);
    w.canvas.setTo(belt);
    s.canvas = w.canvas;
    // The face fills the view, or the belt shows around it.
    if (rng.uniform(0, 2)) {
        const int l = rng.uniform(0, 70), r = rng.uniform(0, 70), t = rng.uniform(0, 50), b = rng.uniform(0, 50);
        s.face = cv::Rect(l, t, size.width - l - r, size.height - t - b);
    } else {
        s.face = cv::Rect(0, 0, size.width, size.height);
    }
    s.canvas(s.face).setTo(paper);
    s.paper = paper;
    w.low = smoothField(rng, size, rng.uniform(60, 200)) * float(uni(rng, 3, 14));
    w.mid = smoothField(rng, size, rng.uniform(6, 20)) * float(uni(rng, 1, 7));
    cv::Mat &texture = w.texture;
    texture = w.low + w.mid;
    // Fibres of the board.
    cv::Mat &fibres = w.fibres;
    fibres.create(size, CV_32F);
    fibres.setTo(0);
    for (int i = 0, n = rng.uniform(0, 900); i < n; ++i) {
        const cv::Point a(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const double ang = uni(rng, 0, CV_PI), len = uni(rng, 3, 18);
        const cv::Point b = a + cv::Point(int(len * std::cos(ang)), int(len * std::sin(ang)));
        cv::line(fibres, a, b, cv::Scalar(uni(rng, -12, 12)), 1, cv::LINE_AA);
    }
    texture += fibres;
    for (int y = 0; y < size.height; ++y) {
        const float *t = texture.ptr<float>(y);
        float *px = s.canvas.ptr<float>(y);
        for (int x = 0; x < size.width; ++x, px += 3)
            for (int k = 0; k < 3; ++k)
                px[k] += t[x];
    }
    return s;
}

void finish(cv::RNG &rng, Scene &s, bool colour, cv::Mat &out, bool varied = false)
{
    const cv::Size size = s.canvas.size();
    Workspace &w = workspace();
    // Uneven light: a slope, a vignette and sometimes a bright patch.
    const double ang = uni(rng, 0, 2 * CV_PI), slope = uni(rng, 0.0, 0.45);
    const double vignette = uni(rng, 0.0, 0.35);
    const cv::Point2d spot(uni(rng, 0, size.width), uni(rng, 0, size.height));
    const double spotGain = rng.uniform(0, 3) == 0 ? uni(rng, 0.08, 0.25) : 0.0;
    const double spotR = uni(rng, 80, 300);
    const double base = uni(rng, 0.75, 1.05);
    const double cosAng = std::cos(ang), sinAng = std::sin(ang);
    std::vector<double> nxOf(size_t(size.width));
    for (int x = 0; x < size.width; ++x)
        nxOf[x] = (x - size.width / 2.0) / size.width;
    for (int y = 0; y < size.height; ++y) {
        float *px = s.canvas.ptr<float>(y);
        const double ny = (y - size.height / 2.0) / size.height;
        for (int x = 0; x < size.width; ++x, px += 3) {
            const double nx = nxOf[x];
            double g = base + slope * (nx * cosAng + ny * sinAng);
            g *= 1.0 - vignette * (nx * nx + ny * ny) * 2;
            if (spotGain != 0) { // adds nothing otherwise, and the exponential is dear
                const double sx = x - spot.x, sy = y - spot.y;
                g += spotGain * std::exp(-(sx * sx + sy * sy) / (2 * spotR * spotR));
            }
            const float light = float(g);
            for (int k = 0; k < 3; ++k)
                px[k] *= light;
        }
    }
    // The exposure is set so that the board does not burn out; only highlights may.
    cv::Mat &grey = w.grey;
    cv::cvtColor(s.canvas, grey, cv::COLOR_BGR2GRAY);
    std::vector<float> sample;
    for (int y = 0; y < grey.rows; y += 4)
        for (int x = y % 8; x < grey.cols; x += 8)
            sample.push_back(grey.at<float>(y, x));
    auto high = sample.begin() + long(sample.size() * 0.99);
    std::nth_element(sample.begin(), high, sample.end());
    if (*high > 232)
        s.canvas *= 232.0 / *high;
    const double blur = uni(rng, 0.3, 1.3);
    cv::GaussianBlur(s.canvas, s.canvas, cv::Size(0, 0), blur);
    if (varied && rng.uniform(0, 3) == 0) { // the box moved during the exposure
        const int length = rng.uniform(2, 8);
        const cv::Mat kernel = rng.uniform(0, 2) ? cv::Mat::ones(1, length, CV_32F) / length
                                                 : cv::Mat::ones(length, 1, CV_32F) / length;
        cv::filter2D(s.canvas, s.canvas, -1, kernel);
    }
    cv::Mat &noise = w.noise;
    noise.create(size, CV_32FC3);
    const double sigma = uni(rng, 1.5, 7.0);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    s.canvas += noise;
    // A grey picture hands out its own grey copy; a colour one this.
    if (!colour)
        w.bgr.create(size, CV_8UC3);
    cv::Mat bgr = colour ? cv::Mat() : w.bgr;
    s.canvas.convertTo(bgr, CV_8UC3);
    if (varied && rng.uniform(0, 5) < 2) { // a camera or a grabber that compresses hard
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", bgr, jpeg, {cv::IMWRITE_JPEG_QUALITY, rng.uniform(35, 91)});
        bgr = cv::imdecode(jpeg, cv::IMREAD_COLOR);
    }
    if (colour)
        out = bgr;
    else
        cv::cvtColor(bgr, out, cv::COLOR_BGR2GRAY);
}

// Draws the planned blobs; returns the outlines of the real dots.
std::vector<cv::Rect2f> drawAll(cv::RNG &rng, Scene &s, const std::vector<DotSpec> &specs, bool colour,
                                bool varied = false)
{
    // One glue per box: its polarity and tint are the same for all its dots.
    bool brighter = rng.uniform(0, 2) == 0;
    double baseContrast = uni(rng, 22, 85);
    if (varied)
        baseContrast = uni(rng, 18, 110);
    // Glue brighter than a white board would vanish in the highlights.
    const double headroom = 245 - s.paperLevel();
    if (brighter && headroom < 30)
        brighter = false;
    if (brighter)
        baseContrast = std::min(baseContrast, headroom);
    else
        baseContrast = std::min(baseContrast, s.paperLevel() - 10);
    cv::Scalar tint(1, 1, 1);
    if (colour && rng.uniform(0, 2))
        tint = cv::Scalar(uni(rng, 0.5, 1.0), uni(rng, 0.7, 1.0), uni(rng, 0.8, 1.0));
    std::vector<cv::Rect2f> dots;
    for (const DotSpec &d : specs) {
        double contrast = baseContrast * uni(rng, 0.8, 1.2);
        // On dark or bright print the glue keeps a visible contrast, as under a real light.
        const cv::Rect around = cv::Rect(int(d.centre.x - d.semiMajor), int(d.centre.y - d.semiMajor),
                                         int(2 * d.semiMajor) + 1, int(2 * d.semiMajor) + 1) &
                                cv::Rect(0, 0, s.canvas.cols, s.canvas.rows);
        const cv::Scalar m = cv::mean(s.canvas(around));
        const double local = (m[0] + m[1] + m[2]) / 3;
        // Room is left for the light, which may still raise the board by a quarter.
        bool up = brighter;
        if (varied && rng.uniform(0, 4) == 0) // glue of two kinds, or light that turns some over
            up = !up;
        if (up && local > 170)
            up = false;
        else if (!up && local < 45)
            up = true;
        const double least = varied ? 18.0 : 28.0;
        contrast = std::clamp(contrast, least, std::max(least, up ? 200 - local : local - 12));
        const double c = d.kind == DotSpec::Smear ? contrast * 0.8 : contrast;
        if (varied)
            drawVisibleGlue(rng, s.canvas, d, up, c, tint);
        else
            drawGlue(rng, s.canvas, d, up, c, tint);
        if (d.kind == DotSpec::Dot)
            dots.push_back(outline(d));
    }
    return dots;
}

} // namespace

BoxImageGenerator::BoxImageGenerator(std::uint64_t seed)
    : m_seed(seed)
{
}

BoxImageGenerator::Options BoxImageGenerator::pictureOptions(int index) const
{
    cv::RNG pick = rngFor(m_seed, index, 3);
    Options o;
    o.colour = pick.uniform(0, 4) == 0;
    return o;
}

BoxImageGenerator::Picture BoxImageGenerator::picture(int index, const Options &options) const
{
    cv::RNG rng = rngFor(m_seed, index, 0);
    Scene s = carton(rng, options.size);
    const int n = rng.uniform(options.minDots, options.maxDots + 1);
    std::vector<DotSpec> specs;
    const cv::Rect inner(s.face.x + 22, s.face.y + 22, std::max(1, s.face.width - 44), std::max(1, s.face.height - 44));
    for (int tries = 0; int(specs.size()) < n && tries < 2000; ++tries) {
        const cv::Point2f c(float(uni(rng, inner.x, inner.x + inner.width)),
                            float(uni(rng, inner.y, inner.y + inner.height)));
        DotSpec d = randomDot(rng, c, options.smallDots ? 9.0 : 20.0);
        if (fits(specs, d))
            specs.push_back(d);
    }
    if (options.distractors) {
        // One picture in three has one to three, half of them specks. Varied glue shines at
        // any size, so there every other picture has one to four, two in three of them specks:
        // a speck with a glint is still no dot.
        const int pictureIn = options.varied ? 2 : 3, most = options.varied ? 4 : 3;
        const int speckOdds = options.varied ? 3 : 2; // all but one in speckOdds are specks
        const int extras = rng.uniform(0, pictureIn) == 0 ? rng.uniform(1, most + 1) : 0;
        for (int i = 0, tries = 0; i < extras && tries < 200; ++tries) {
            const cv::Point2f c(float(uni(rng, inner.x, inner.x + inner.width)),
                                float(uni(rng, inner.y, inner.y + inner.height)));
            DotSpec d = rng.uniform(0, speckOdds) != 0 ? drop(rng, c) : smear(rng, c);
            if (fits(specs, d)) {
                specs.push_back(d);
                ++i;
            }
        }
    }
    Picture p;
    if (options.varied) {
        // Half the dots keep their board bare; print may run under the others.
        std::vector<DotSpec> clear, over;
        for (const DotSpec &d : specs)
            (rng.uniform(0, 2) ? clear : over).push_back(d);
        printAround(rng, s, clear, options.smallPrint, true);
        printUnder(rng, s, over);
    } else {
        printAround(rng, s, specs, options.smallPrint);
    }
    p.dots = drawAll(rng, s, specs, options.colour, options.varied);
    finish(rng, s, options.colour, p.image, options.varied);
    return p;
}

BoxImageGenerator::Defect BoxImageGenerator::productDefect(int index, int *defectImage) const
{
    cv::RNG rng = rngFor(m_seed, index, 1);
    Defect defect = None;
    int image = -1;
    if (rng.uniform(0, 2) != 0) {
        defect = Defect(rng.uniform(1, 4));
        image = rng.uniform(0, 3);
    }
    if (defectImage)
        *defectImage = image;
    return defect;
}

BoxImageGenerator::Product BoxImageGenerator::product(int index, bool colour, int dotsPerImage) const
{
    Product product;
    product.defect = productDefect(index, &product.defectImage);
    const cv::Size size(728, 544);
    // The same glue pattern on every box of a line: dots on a jittered grid.
    for (int i = 0; i < 3; ++i) {
        cv::RNG irng = rngFor(m_seed, index * 3 + i, 2);
        const int n = dotsPerImage > 0 ? dotsPerImage : irng.uniform(3, 11);
        product.expected[i] = n;
        Scene s = carton(irng, size);
        const int cols = n <= 4 ? 2 : (n <= 9 ? 3 : 4);
        const int rows = (n + cols - 1) / cols;
        const cv::Rect inner(s.face.x + 60, s.face.y + 60, s.face.width - 120, s.face.height - 120);
        std::vector<DotSpec> specs;
        for (int k = 0; k < n; ++k) {
            const float cx = inner.x + inner.width * (k % cols + 0.5f) / cols + float(uni(irng, -15, 15));
            const float cy = inner.y + inner.height * (k / cols + 0.5f) / rows + float(uni(irng, -12, 12));
            specs.push_back(randomDot(irng, cv::Point2f(cx, cy)));
        }
        if (i == product.defectImage) {
            const int k = irng.uniform(0, n);
            const cv::Point2f c = specs[k].centre;
            switch (product.defect) {
            case Missing:
                specs.erase(specs.begin() + k);
                break;
            case Shrunk:
                specs[k] = drop(irng, c);
                break;
            case Smeared:
                specs[k] = smear(irng, c);
                break;
            case None:
                break;
            }
        }
        printAround(irng, s, specs);
        product.images[i].dots = drawAll(irng, s, specs, colour);
        finish(irng, s, colour, product.images[i].image);
    }
    cv::vconcat(std::vector<cv::Mat>{product.images[0].image, product.images[1].image, product.images[2].image},
                product.stacked);
    return product;
}

const char *BoxImageGenerator::defectName(Defect d)
{
    switch (d) {
    case None:
        return "good";
    case Missing:
        return "missing";
    case Shrunk:
        return "shrunk";
    case Smeared:
        return "smeared";
    }
    return "?";
}

std::string BoxImageGenerator::darknetLabels(const Picture &picture)
{
    return ::darknetLabels(picture.dots, picture.image.size());
}
