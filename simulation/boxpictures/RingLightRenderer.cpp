#include "RingLightRenderer.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>

namespace {

constexpr double Pi = 3.14159265358979323846;

std::uint64_t splitmix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Seeds from (seed, index, stream) only, so a picture does not depend on what was drawn before.
std::uint64_t mix(std::uint64_t seed, std::uint64_t index, std::uint64_t stream)
{
    return splitmix(splitmix(splitmix(seed) ^ index) ^ stream);
}

class Dice
{
public:
    explicit Dice(std::uint64_t seed) : m_rng(seed) {}
    double uni(double lo, double hi) { return lo + (hi - lo) * std::uniform_real_distribution<double>(0, 1)(m_rng); }
    int integer(int lo, int hi) { return lo + int(m_rng() % std::uint64_t(hi - lo + 1)); } // inclusive
    bool chance(double p) { return uni(0, 1) < p; }
    std::uint64_t raw() { return m_rng(); }

private:
    std::mt19937_64 m_rng;
};

// Carton and print, shared by the views of one product.
struct Style
{
    bool colour = false;
    cv::Vec3d boardTint{1, 1, 1};  // B, G, R reflectance ratios
    double albedo = 0.6;
    cv::Vec3d inkTint{0.4, 0.4, 0.4}; // the coloured ink's reflectance
    double fibre = 0.05;
    bool fibreAlongX = true;
};

Style makeStyle(Dice &d)
{
    Style s;
    s.colour = d.chance(0.25);
    const int kind = d.integer(0, 3);
    if (kind == 0) { // kraft
        s.albedo = d.uni(0.42, 0.6);
        s.boardTint = {0.72, 0.88, 1.0};
    } else if (kind == 1) { // white-lined board
        s.albedo = d.uni(0.62, 0.8);
        s.boardTint = {0.97, 0.99, 1.0};
    } else if (kind == 2) { // grey recycled board
        s.albedo = d.uni(0.45, 0.68);
        s.boardTint = {0.95, 0.97, 1.0};
    } else { // coated, printed background
        s.albedo = d.uni(0.5, 0.78);
        s.boardTint = {d.uni(0.75, 1.0), d.uni(0.75, 1.0), d.uni(0.75, 1.0)};
    }
    const std::array<cv::Vec3d, 5> inks{cv::Vec3d{0.2, 0.2, 0.85}, cv::Vec3d{0.8, 0.35, 0.15},
                                         cv::Vec3d{0.25, 0.65, 0.25}, cv::Vec3d{0.15, 0.55, 0.8},
                                         cv::Vec3d{0.55, 0.25, 0.5}};
    s.inkTint = inks[d.integer(0, 4)];
    if (!s.colour) {
        const double g = 0.114 * s.inkTint[0] + 0.587 * s.inkTint[1] + 0.299 * s.inkTint[2];
        s.inkTint = {g, g, g};
        s.boardTint = {1, 1, 1};
    }
    s.fibre = d.uni(0.025, 0.08);
    s.fibreAlongX = d.chance(0.5);
    return s;
}

cv::Mat noiseField(cv::RNG &rng, cv::Size size, double cell)
{
    const cv::Size small(std::max(2, int(size.width / cell) + 2), std::max(2, int(size.height / cell) + 2));
    cv::Mat n(small, CV_32F);
    rng.fill(n, cv::RNG::NORMAL, 0.0, 1.0);
    cv::Mat big;
    cv::resize(n, big, size, 0, 0, cv::INTER_CUBIC);
    return big;
}

// Relative reflectance variation of the carton: fibre streaks, flocs at several scales, flecks.
cv::Mat boardTexture(Dice &d, const Style &style, cv::Size size)
{
    cv::RNG rng(d.raw());
    cv::Mat tex = cv::Mat::zeros(size, CV_32F);
    const std::array<double, 5> cells{3, 8, 22, 60, 180};
    const std::array<double, 5> weights{0.35, 0.28, 0.24, 0.25, 0.3};
    for (size_t i = 0; i < cells.size(); ++i)
        tex += noiseField(rng, size, cells[i]) * float(weights[i] * d.uni(0.6, 1.4));
    cv::Mat fibres(size, CV_32F);
    rng.fill(fibres, cv::RNG::NORMAL, 0.0, 1.0);
    const double along = d.uni(3, 8), across = d.uni(0.4, 0.8);
    if (style.fibreAlongX)
        cv::GaussianBlur(fibres, fibres, cv::Size(0, 0), along, across);
    else
        cv::GaussianBlur(fibres, fibres, cv::Size(0, 0), across, along);
    tex += fibres * float(0.6 / std::sqrt(along * across) * 4.0);
    tex *= float(style.fibre / 0.9);
    const int flecks = d.integer(5, 60);
    for (int i = 0; i < flecks; ++i) {
        const cv::Point p(d.integer(0, size.width - 1), d.integer(0, size.height - 1));
        const double v = d.chance(0.7) ? -d.uni(0.08, 0.3) : d.uni(0.05, 0.15);
        if (d.chance(0.5))
            cv::circle(tex, p, d.integer(0, 1), cv::Scalar(v), cv::FILLED, cv::LINE_AA);
        else
            cv::line(tex, p, p + cv::Point(d.integer(-6, 6), d.integer(-6, 6)), cv::Scalar(v), 1, cv::LINE_AA);
    }
    return tex;
}

std::string randomText(Dice &d, int length)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz  -./:%";
    std::string s;
    for (int i = 0; i < length; ++i)
        s += letters[d.integer(0, int(sizeof(letters)) - 2)];
    return s;
}

int randomFont(Dice &d)
{
    static const int fonts[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_PLAIN,  cv::FONT_HERSHEY_DUPLEX,
                                cv::FONT_HERSHEY_COMPLEX, cv::FONT_HERSHEY_TRIPLEX, cv::FONT_HERSHEY_COMPLEX_SMALL,
                                cv::FONT_HERSHEY_SCRIPT_SIMPLEX};
    return fonts[d.integer(0, 6)] | (d.chance(0.2) ? cv::FONT_ITALIC : 0);
}

// Ink coverage (0..255) of the artwork, black and coloured plates apart.
void drawPrint(Dice &d, cv::Size size, cv::Mat &black, cv::Mat &colour)
{
    black = cv::Mat::zeros(size, CV_8U);
    colour = cv::Mat::zeros(size, CV_8U);
    auto plate = [&]() -> cv::Mat & { return d.chance(0.3) ? colour : black; };
    auto anywhere = [&](int margin) {
        return cv::Point(d.integer(-margin, size.width + margin), d.integer(-margin, size.height + margin));
    };
    auto density = [&] { return cv::Scalar(d.chance(0.7) ? 255 : d.integer(90, 220)); };

    const int bars = d.integer(0, 3);
    for (int i = 0; i < bars; ++i) { // bands and panels of solid ink
        const cv::Point p = anywhere(100);
        const bool wide = d.chance(0.5);
        const cv::Size s = wide ? cv::Size(d.integer(150, 800), d.integer(8, 70)) : cv::Size(d.integer(40, 200), d.integer(40, 200));
        cv::Mat &m = plate();
        cv::rectangle(m, cv::Rect(p, s), density(), cv::FILLED, cv::LINE_AA);
        if (d.chance(0.5)) // text knocked out of the panel
            cv::putText(m, randomText(d, d.integer(3, 12)), p + cv::Point(d.integer(2, 10), s.height - d.integer(3, 10)),
                        randomFont(d), d.uni(0.4, 1.2), cv::Scalar(0), d.integer(1, 2), cv::LINE_AA);
    }
    const int paragraphs = d.integer(1, 4);
    for (int i = 0; i < paragraphs; ++i) {
        const cv::Point p = anywhere(50);
        const int font = randomFont(d);
        const double scale = d.uni(0.35, 1.6);
        const int thick = std::max(1, int(scale * d.uni(0.8, 2.2)));
        const int lines = d.integer(1, 6);
        const int leading = int(scale * d.uni(26, 40));
        cv::Mat &m = plate();
        const cv::Scalar ink = density();
        for (int l = 0; l < lines; ++l)
            cv::putText(m, randomText(d, d.integer(4, 30)), p + cv::Point(0, l * leading), font, scale, ink, thick,
                        cv::LINE_AA);
    }
    if (d.chance(0.5)) { // barcode
        const cv::Point p = anywhere(0);
        const int height = d.integer(30, 90);
        int x = p.x;
        const int modules = d.integer(30, 70);
        for (int i = 0; i < modules; ++i) {
            const int w = d.integer(1, 4);
            if (i % 2 == 0)
                cv::rectangle(black, cv::Rect(x, p.y, w, height), cv::Scalar(255), cv::FILLED);
            x += w;
        }
        cv::putText(black, randomText(d, 13), p + cv::Point(0, height + 14), cv::FONT_HERSHEY_PLAIN, 1.0,
                    cv::Scalar(255), 1, cv::LINE_AA);
    }
    const int logos = d.integer(0, 3);
    for (int i = 0; i < logos; ++i) { // circles, rings and ellipses of logo size
        const cv::Point c = anywhere(20);
        const int kind = d.integer(0, 3);
        // Solid round shapes stay larger than any glue dot: a solid dot-sized disc is, to a
        // camera and to a person, a dot of dark glue.
        const int r = d.integer(kind == 0 || kind == 2 ? 26 : 15, 80);
        cv::Mat &m = plate();
        if (kind == 0)
            cv::circle(m, c, r, density(), cv::FILLED, cv::LINE_AA);
        else if (kind == 1)
            for (int k = r; k > 4; k -= d.integer(5, 14))
                cv::circle(m, c, k, density(), d.integer(1, 4), cv::LINE_AA);
        else if (kind == 2)
            cv::ellipse(m, c, cv::Size(r, int(r * d.uni(0.4, 0.9))), d.uni(0, 180), 0, 360, density(),
                        d.chance(0.5) ? cv::FILLED : d.integer(2, 6), cv::LINE_AA);
        else {
            std::vector<cv::Point> tri{c + cv::Point(0, -r), c + cv::Point(-r, r * 2 / 3), c + cv::Point(r, r * 2 / 3)};
            cv::fillConvexPoly(m, tri, density(), cv::LINE_AA);
        }
        if (d.chance(0.4))
            cv::putText(m, randomText(d, d.integer(2, 5)), c + cv::Point(-r / 2, r / 4), randomFont(d), r / 40.0 + 0.3,
                        cv::Scalar(0), 2, cv::LINE_AA);
    }
    const int decoys = d.integer(0, 6);
    for (int i = 0; i < decoys; ++i) { // printed rings and discs the size of a glue dot
        const cv::Point c = anywhere(0);
        const int r = d.integer(5, 21);
        cv::Mat &m = plate();
        // A ring keeps its hole wider than its line, and a disc carries a knocked-out mark,
        // as bullets and numbered stickers do; otherwise either is a dot of glue.
        if (d.chance(0.5)) {
            cv::circle(m, c, r, density(), std::min(d.integer(1, 4), std::max(1, r / 4)), cv::LINE_AA);
        } else {
            const int big = std::max(r, 12);
            cv::circle(m, c, big, density(), cv::FILLED, cv::LINE_AA);
            const std::string mark(1, char('A' + d.integer(0, 25)));
            cv::putText(m, mark, c + cv::Point(-big / 2, big / 2), cv::FONT_HERSHEY_SIMPLEX, big / 22.0, cv::Scalar(0),
                        2, cv::LINE_AA);
        }
    }
    if (d.chance(0.4)) { // thin rules
        const int rules = d.integer(1, 4);
        for (int i = 0; i < rules; ++i) {
            const cv::Point a = anywhere(50);
            const cv::Point b = d.chance(0.5) ? cv::Point(a.x + d.integer(100, 600), a.y) : cv::Point(a.x, a.y + d.integer(80, 400));
            cv::line(plate(), a, b, density(), d.integer(1, 3), cv::LINE_AA);
        }
    }
    // The box never sits square to the camera.
    const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(size.width / 2.f, size.height / 2.f), d.uni(-4, 4), 1.0);
    for (cv::Mat *m : {&black, &colour}) {
        cv::warpAffine(*m, *m, turn, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
        cv::GaussianBlur(*m, *m, cv::Size(0, 0), d.uni(0.4, 0.9));
    }
}

// Light reaching the board: ring-light falloff around an off-centre axis, a tilt gradient.
cv::Mat illumination(Dice &d, cv::Size size)
{
    const double cx = size.width * d.uni(0.35, 0.65), cy = size.height * d.uni(0.35, 0.65);
    const double falloff = d.uni(0.12, 0.5);
    const double gx = d.uni(-0.15, 0.15), gy = d.uni(-0.15, 0.15);
    const double level = d.uni(0.85, 1.2);
    const double rmax2 = 0.25 * (double(size.width) * size.width + double(size.height) * size.height);
    cv::Mat light(size, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        float *row = light.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / rmax2;
            const double fall = 1.0 / ((1.0 + falloff * r2) * (1.0 + falloff * r2)); // cos^4-like
            row[x] = float(level * fall * (1.0 + gx * (x / double(size.width) - 0.5) * 2 + gy * (y / double(size.height) - 0.5) * 2));
        }
    }
    return light;
}

struct Lamp
{
    cv::Vec3d l, h; // direction to the lamp, half vector with the camera
};

struct Lighting
{
    std::vector<Lamp> lamps;
    double cosAlpha = 1;
    double specular = 1; // per lamp, in board-white units
    double exponent = 100;
};

Lighting makeLighting(Dice &d)
{
    Lighting L;
    const int mode = d.integer(0, 2);
    int count;
    double alpha;
    if (mode == 0) { // LED ring: discrete lamps
        count = d.integer(6, 16);
        alpha = d.uni(12, 50) * Pi / 180;
        L.specular = d.uni(0.6, 1.8);
        L.exponent = d.uni(300, 1500); // small LEDs: small, hard reflections
    } else if (mode == 1) { // diffused ring
        count = 36;
        alpha = d.uni(15, 55) * Pi / 180;
        L.specular = d.uni(0.03, 0.12); // neighbouring lamps' lobes overlap into one ring
        L.exponent = d.uni(40, 160);
    } else { // a lamp or two beside the lens
        count = d.integer(1, 3);
        alpha = d.uni(6, 30) * Pi / 180;
        L.specular = d.uni(0.8, 2.2);
        L.exponent = d.uni(300, 2000);
    }
    // A Blinn-Phong lobe wide enough to light a flat top from every lamp at once would
    // make the whole drop glow; real glue is glossy, so the lobe is kept narrow enough
    // that a flat surface sends back little of the lamps' light.
    const double flat = std::cos(alpha / 2);
    L.exponent = std::max(L.exponent, std::log(0.06 / (count * L.specular)) / std::log(flat));
    const double phase = d.uni(0, 2 * Pi);
    const double spread = mode == 2 ? d.uni(0.3, 2.0) : 2 * Pi / count;
    for (int i = 0; i < count; ++i) {
        const double phi = phase + i * spread;
        Lamp lamp;
        lamp.l = cv::Vec3d(std::sin(alpha) * std::cos(phi), std::sin(alpha) * std::sin(phi), std::cos(alpha));
        lamp.h = cv::normalize(lamp.l + cv::Vec3d(0, 0, 1));
        L.lamps.push_back(lamp);
    }
    L.cosAlpha = std::cos(alpha);
    return L;
}

enum class Shape { Cap, Flat, Rim, Streak };

struct Blob
{
    Shape shape = Shape::Cap;
    cv::Point2d c;
    double a = 5, b = 5, theta = 0; // semi-axes and their turn
    double height = 3;
    double power = 0.5;             // cap profile exponent, or flat-top sharpness
    cv::Point2d p0, p1;             // streak ends
    double halfWidth = 1;
    bool bright = true;

    // Glue height in pixels at (x, y); zero off the footprint.
    double at(double x, double y) const
    {
        if (shape == Shape::Streak) {
            const cv::Point2d ab = p1 - p0, ap = cv::Point2d(x, y) - p0;
            const double t = std::clamp(ap.dot(ab) / ab.dot(ab), 0.0, 1.0);
            const cv::Point2d q = p0 + t * ab;
            const double w = halfWidth * (0.55 + 0.45 * std::sin(Pi * (0.15 + 0.85 * t))); // thins towards the tail
            const double r = std::hypot(x - q.x, y - q.y) / w;
            return r >= 1 ? 0 : height * std::sqrt(1 - r * r);
        }
        const double dx = x - c.x, dy = y - c.y;
        const double u = dx * std::cos(theta) + dy * std::sin(theta);
        const double v = -dx * std::sin(theta) + dy * std::cos(theta);
        const double r2 = (u / a) * (u / a) + (v / b) * (v / b);
        if (r2 >= 1)
            return 0;
        switch (shape) {
        case Shape::Cap:
            return height * std::pow(1 - r2, power);
        case Shape::Flat:
            return height * std::sqrt(1 - std::pow(r2, power));
        case Shape::Rim: {
            const double r = std::sqrt(r2);
            return height * (0.55 * std::pow(1 - r2, 0.7) + 0.45 * std::exp(-(r - 0.8) * (r - 0.8) / 0.012) * std::pow(1 - r2, 0.35));
        }
        default:
            return 0;
        }
    }

    cv::Rect2d footprint() const
    {
        if (shape == Shape::Streak) {
            const double w = halfWidth;
            return cv::Rect2d(std::min(p0.x, p1.x) - w, std::min(p0.y, p1.y) - w, std::abs(p1.x - p0.x) + 2 * w,
                              std::abs(p1.y - p0.y) + 2 * w);
        }
        const double ct = std::cos(theta), st = std::sin(theta);
        const double hw = std::sqrt(a * a * ct * ct + b * b * st * st);
        const double hh = std::sqrt(a * a * st * st + b * b * ct * ct);
        return cv::Rect2d(c.x - hw, c.y - hh, 2 * hw, 2 * hh);
    }

    double reach() const
    {
        const cv::Rect2d f = footprint();
        return 0.5 * std::hypot(f.width, f.height);
    }
};

// Glue body: what the drop adds to or takes from the light, per polarity.
struct GlueLook
{
    double opacity = 1;   // share of the glue's own scattering against the board seen through it
    cv::Vec3d level;      // the glue's own brightness, board-image units
    double transmission = 1;
    double refraction = 0.6; // pixel shift of the board seen through, per unit slope
    double specular = 1;
};

GlueLook makeLook(Dice &d, bool bright, double boardLevel, bool colour)
{
    GlueLook g;
    const cv::Vec3d tint = colour ? cv::Vec3d(d.uni(0.82, 0.97), d.uni(0.95, 1.0), 1.0) : cv::Vec3d(1, 1, 1);
    if (bright) {
        g.opacity = d.uni(0.55, 1.0);
        // Exposure is set so that white glue stays below clipping; only the lamps'
        // reflections saturate.
        const double lift = d.uni(22, 75);
        g.level = tint * std::min(215.0, boardLevel + lift / g.opacity);
        g.transmission = 1.0;
        g.specular = d.uni(0.6, 1.2);
    } else if (d.chance(0.45)) { // dark glue
        g.opacity = d.uni(0.8, 1.0);
        g.level = tint * (boardLevel * d.uni(0.2, 0.55));
        g.transmission = 0.5;
        g.specular = d.uni(0.2, 0.7);
    } else { // clear glue over the board, darker where it is thick
        g.opacity = d.uni(0.0, 0.2);
        g.level = tint * (boardLevel * d.uni(0.3, 0.6));
        g.transmission = d.uni(0.4, 0.72);
        g.specular = d.uni(0.3, 0.9);
    }
    g.refraction = d.uni(0.3, 1.5);
    return g;
}

// Draws one drop into the lit board image (CV_32FC3), supersampled for smooth edges.
void drawBlob(cv::Mat &image, const cv::Mat &light, const Blob &blob, const GlueLook &look, const Lighting &lighting)
{
    constexpr int S = 4;
    const cv::Rect2d f = blob.footprint();
    const cv::Rect area = cv::Rect(int(std::floor(f.x)) - 3, int(std::floor(f.y)) - 3, int(std::ceil(f.width)) + 7,
                                   int(std::ceil(f.height)) + 7) &
                          cv::Rect(0, 0, image.cols, image.rows);
    if (area.empty())
        return;
    cv::Mat board;
    cv::resize(image(area), board, area.size() * S, 0, 0, cv::INTER_LINEAR);
    const int W = board.cols, H = board.rows;
    // Heights on the fine grid, with a border for the slopes.
    cv::Mat h(H + 2, W + 2, CV_64F);
    for (int y = 0; y < H + 2; ++y)
        for (int x = 0; x < W + 2; ++x)
            h.at<double>(y, x) = blob.at(area.x + (x - 1 + 0.5) / S, area.y + (y - 1 + 0.5) / S);
    double peak = 0;
    cv::minMaxLoc(h, nullptr, &peak);
    const double lamp = light.at<float>(std::clamp(int(blob.c.y), 0, light.rows - 1), std::clamp(int(blob.c.x), 0, light.cols - 1));
    const double glint = lighting.specular * look.specular * 255.0 * lamp;
    cv::Mat out = board.clone();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double z = h.at<double>(y + 1, x + 1);
            if (z <= 0)
                continue;
            const double gx = (h.at<double>(y + 1, x + 2) - h.at<double>(y + 1, x)) * S / 2;
            const double gy = (h.at<double>(y + 2, x + 1) - h.at<double>(y, x + 1)) * S / 2;
            const cv::Vec3d n = cv::normalize(cv::Vec3d(-gx, -gy, 1));
            double diffuse = 0, shine = 0;
            for (const Lamp &l : lighting.lamps) {
                diffuse += std::max(0.0, n.dot(l.l));
                shine += std::pow(std::max(0.0, n.dot(l.h)), lighting.exponent);
            }
            diffuse /= lighting.lamps.size() * lighting.cosAlpha;
            // The board seen through the drop, shifted by refraction and dimmed by its thickness.
            const int sx = std::clamp(int(std::lround(x - look.refraction * gx * S)), 0, W - 1);
            const int sy = std::clamp(int(std::lround(y - look.refraction * gy * S)), 0, H - 1);
            const cv::Vec3f under = board.at<cv::Vec3f>(sy, sx);
            const double thick = peak > 0 ? z / peak : 1;
            const double through = std::pow(look.transmission, 0.4 + 0.6 * thick);
            // Board light seen through a steep side is bent away from the lens.
            const double rim = 0.35 + 0.65 * std::clamp(n[2] * 1.3, 0.0, 1.0);
            cv::Vec3f &o = out.at<cv::Vec3f>(y, x);
            for (int c = 0; c < 3; ++c)
                o[c] = float(look.opacity * look.level[c] * diffuse + (1 - look.opacity) * under[c] * through * rim +
                             glint * shine);
        }
    cv::Mat small;
    cv::resize(out, small, area.size(), 0, 0, cv::INTER_AREA);
    small.copyTo(image(area));
}

// Whether a person can make out a drop: enough of its footprint looks other than the board
// did before it, or its outline shows all round (clear glue, seen by the light it bends at
// its edge); not just a glint or two. Noise and defocus come later and take some away.
bool seen(const cv::Mat &before, const cv::Mat &after, cv::Point origin, const Blob &blob)
{
    // The largest change in any channel, as the sensor clips it: glue tinted on a coloured
    // board shows by its colour as much as by its grey. A grey picture is drawn with grey
    // ink, board and glue, so there every channel is its grey.
    auto difference = [](const cv::Vec3f &a, const cv::Vec3f &b) {
        double most = 0;
        for (int ch = 0; ch < 3; ++ch)
            most = std::max(most, double(std::abs(std::min(255.0f, a[ch]) - std::min(255.0f, b[ch]))));
        return most;
    };
    constexpr int Sectors = 8;
    double sectorChange[Sectors] = {}, bandChange = 0;
    int sectorPixels[Sectors] = {}, bandPixels = 0, inside = 0, changed = 0;
    const double ca = std::cos(blob.theta), sa = std::sin(blob.theta);
    for (int y = 0; y < before.rows; ++y)
        for (int x = 0; x < before.cols; ++x) {
            const double px = origin.x + x + 0.5, py = origin.y + y + 0.5;
            const double dx = px - blob.c.x, dy = py - blob.c.y;
            const double u = (dx * ca + dy * sa) / blob.a, v = (-dx * sa + dy * ca) / blob.b;
            const double rho = std::hypot(u, v);
            const double change = difference(after.at<cv::Vec3f>(y, x), before.at<cv::Vec3f>(y, x));
            if (blob.at(px, py) > 0) {
                ++inside;
                changed += change >= 15;
            }
            if (rho >= 0.7 && rho <= 1.05) {
                const int k = std::clamp(int((std::atan2(v, u) + Pi) / (2 * Pi) * Sectors), 0, Sectors - 1);
                sectorChange[k] += change;
                ++sectorPixels[k];
                bandChange += change;
                ++bandPixels;
            }
        }
    if (inside > 0 && changed * 10 >= inside * 4)
        return true;
    int outlined = 0;
    for (int k = 0; k < Sectors; ++k)
        outlined += sectorPixels[k] > 0 && sectorChange[k] >= 8.0 * sectorPixels[k];
    return bandPixels > 0 && bandChange >= 10.0 * bandPixels && outlined >= Sectors - 1;
}

double meanLevel(const cv::Mat &image, const Blob &blob)
{
    const cv::Rect r = cv::Rect(cv::Rect2d(blob.footprint())) & cv::Rect(0, 0, image.cols, image.rows);
    if (r.empty())
        return 128;
    const cv::Scalar m = cv::mean(image(r));
    return (m[0] + m[1] + m[2]) / 3;
}

struct Scene
{
    int dots = 0;
    bool tinyDrop = false;
    bool streak = false;
};

RingLightRenderer::Picture render(std::uint64_t seed, const Style &style, const Scene &scene)
{
    Dice d(seed);
    const cv::Size size(RingLightRenderer::Width, RingLightRenderer::Height);
    const cv::Mat texture = boardTexture(d, style, size);
    cv::Mat black, colour;
    drawPrint(d, size, black, colour);
    const cv::Mat light = illumination(d, size);
    const double blackFloor = d.uni(0.05, 0.14);

    cv::Mat image(size, CV_32FC3);
    for (int y = 0; y < size.height; ++y) {
        const float *t = texture.ptr<float>(y), *l = light.ptr<float>(y);
        const uchar *k = black.ptr<uchar>(y), *c = colour.ptr<uchar>(y);
        cv::Vec3f *o = image.ptr<cv::Vec3f>(y);
        for (int x = 0; x < size.width; ++x) {
            const double kb = k[x] / 255.0, kc = c[x] / 255.0;
            for (int ch = 0; ch < 3; ++ch) {
                double a = style.albedo * style.boardTint[ch] * (1.0 + t[x]);
                a *= 1.0 - kc * (1.0 - style.inkTint[ch]);
                a *= 1.0 - kb * (1.0 - blackFloor);
                o[x][ch] = float(std::max(0.0, a) * l[x] * 255.0);
            }
        }
    }

    const Lighting lighting = makeLighting(d);
    std::vector<Blob> placed;
    RingLightRenderer::Picture picture;
    auto place = [&](Blob &blob, double margin) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const double r = blob.reach();
            blob.c = cv::Point2d(d.uni(r + margin, size.width - r - margin), d.uni(r + margin, size.height - r - margin));
            if (blob.shape == Shape::Streak) {
                const cv::Point2d half = 0.5 * (blob.p1 - blob.p0);
                blob.p0 = blob.c - half;
                blob.p1 = blob.c + half;
            }
            bool clear = true;
            for (const Blob &o : placed)
                clear = clear && cv::norm(o.c - blob.c) > o.reach() + r + 2;
            if (clear)
                return true;
        }
        return false;
    };

    const int total = scene.dots + (scene.tinyDrop ? 1 : 0) + (scene.streak ? 1 : 0);
    for (int i = 0; i < total; ++i) {
        Blob blob;
        const bool real = i < scene.dots;
        blob.bright = d.chance(0.7);
        if (real) {
            const double major = d.uni(RingLightRenderer::MinDot + 0.3, RingLightRenderer::MaxDot - 0.3);
            const double ratio = std::max(d.uni(0.82, 1.0), (RingLightRenderer::MinDot + 0.3) / major);
            blob.a = major / 2;
            blob.b = major * ratio / 2;
            blob.theta = d.uni(0, Pi);
            const int kind = d.integer(0, 9);
            blob.shape = kind < 6 ? Shape::Cap : kind < 8 ? Shape::Flat : Shape::Rim;
            // Contact angles of roughly 15 to 60 degrees; a few drops stand almost upright.
            blob.power = blob.shape == Shape::Flat ? d.uni(2, 4) : d.chance(0.15) ? d.uni(0.5, 0.65) : d.uni(0.65, 1.0);
            blob.height = blob.a * d.uni(0.12, 0.55);
        } else if (scene.tinyDrop && i == scene.dots) {
            blob.a = blob.b = d.uni(1.0, 2.2); // under 5 px across
            blob.height = blob.a * d.uni(0.3, 0.6);
        } else {
            blob.shape = Shape::Streak;
            const double length = d.uni(18, 50), angle = d.uni(0, Pi);
            blob.p0 = cv::Point2d(0, 0);
            blob.p1 = cv::Point2d(length * std::cos(angle), length * std::sin(angle));
            blob.halfWidth = d.uni(1.2, 2.5);
            blob.height = blob.halfWidth * d.uni(0.3, 0.6);
        }
        if (!place(blob, 2))
            continue;
        placed.push_back(blob);
        const cv::Rect2d f = blob.footprint();
        const cv::Rect area = cv::Rect(int(f.x) - 4, int(f.y) - 4, int(f.width) + 9, int(f.height) + 9) &
                              cv::Rect(0, 0, size.width, size.height);
        const cv::Mat before = image(area).clone();
        // A drop that is counted is one a person can see: one that came out lost in the
        // board or its print (dark glue on black ink, clear glue showing only a glint) is
        // drawn again with another look, the other way round after two tries.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0) {
                before.copyTo(image(area));
                if (attempt == 3)
                    blob.bright = !blob.bright;
            }
            const GlueLook look = makeLook(d, blob.bright, meanLevel(image, blob), style.colour);
            drawBlob(image, light, blob, look, lighting);
            if (!real || seen(before, image(area), area.tl(), blob))
                break;
        }
        if (real)
            picture.dots.push_back({blob.footprint(), blob.bright});
    }

    // Lens and sensor: a little defocus, shot and read noise, clipping.
    cv::GaussianBlur(image, image, cv::Size(0, 0), d.uni(0.45, 1.2));
    cv::RNG rng(d.raw());
    cv::Mat noise(size, CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 1.0);
    const double read = d.uni(1.0, 3.0), shot = d.uni(0.03, 0.12);
    for (int y = 0; y < size.height; ++y) {
        cv::Vec3f *o = image.ptr<cv::Vec3f>(y);
        const cv::Vec3f *n = noise.ptr<cv::Vec3f>(y);
        for (int x = 0; x < size.width; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                const double v = std::max(0.0f, o[x][ch]);
                // Grey pictures share one sensor noise across the channels.
                const double e = style.colour ? n[x][ch] : n[x][0];
                o[x][ch] = float(v + e * std::sqrt(read * read + shot * v * 2.0));
            }
    }
    cv::Mat eight;
    image.convertTo(eight, CV_8UC3);
    if (style.colour)
        picture.image = eight;
    else
        cv::cvtColor(eight, picture.image, cv::COLOR_BGR2GRAY);
    return picture;
}

} // namespace

RingLightRenderer::RingLightRenderer(std::uint64_t seed) : m_seed(seed) {}

RingLightRenderer::Picture RingLightRenderer::picture(long index) const
{
    Dice d(mix(m_seed, std::uint64_t(index), 0x70696374));
    const Style style = makeStyle(d);
    Scene scene;
    scene.dots = d.integer(0, MaxDots);
    return render(d.raw(), style, scene);
}

RingLightRenderer::Product RingLightRenderer::product(long index) const
{
    Dice d(mix(m_seed, std::uint64_t(index), 0x70726f64));
    const Style style = makeStyle(d);
    Product p;
    p.expected = d.integer(MinProductDots, MaxDots);
    if (d.chance(0.5)) {
        p.defect = Defect(d.integer(1, 3));
        p.defectImage = d.integer(0, 2);
    }
    for (int i = 0; i < 3; ++i) {
        Scene scene;
        scene.dots = p.expected;
        if (i == p.defectImage) {
            scene.dots = p.expected - 1;
            scene.tinyDrop = p.defect == Defect::Shrunk;
            scene.streak = p.defect == Defect::Smeared;
        }
        p.images.push_back(render(d.raw(), style, scene));
    }
    return p;
}

const char *RingLightRenderer::defectName(Defect defect)
{
    switch (defect) {
    case Defect::Good:
        return "good";
    case Defect::Missing:
        return "missing";
    case Defect::Shrunk:
        return "shrunk";
    case Defect::Smeared:
        return "smeared";
    }
    return "good";
}
