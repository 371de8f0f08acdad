#include "mouldpicture.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QImage>
#include <QVector>

#include <cmath>
#include <cstring>

namespace {

const cv::Size kSize(kMouldPictureWidth, kMouldPictureHeight);

// How far (in pixels) the part stays inside its cavity's pocket. Shading,
// shadows and the lens blur spread a change by a few pixels; this keeps every
// change of the part picture inside the cavity.
constexpr int kPartInset = 14;
// Depth of a cavity's floor below the plate face.
constexpr float kPocketDepth = 34.0f;

// The surface the camera sees: height (pixels, plate face at 0; smaller is
// farther away), diffuse brightness and shine.
struct Scene {
    cv::Mat height;
    cv::Mat albedo;
    cv::Mat gloss;
};

cv::Mat unitNoise(cv::RNG& rng, double blurSigma)
{
    cv::Mat n(kSize, CV_32F);
    rng.fill(n, cv::RNG::UNIFORM, -1.0, 1.0);
    if (blurSigma > 0) {
        cv::GaussianBlur(n, n, cv::Size(), blurSigma);
    }
    cv::Scalar mean, dev;
    cv::meanStdDev(n, mean, dev);
    n = (n - mean[0]) / std::max(dev[0], 1e-6);
    return n;
}

// Grinding marks: noise smeared along one direction.
cv::Mat brushed(cv::RNG& rng, bool horizontal, int length)
{
    cv::Mat n(kSize, CV_32F);
    rng.fill(n, cv::RNG::UNIFORM, -1.0, 1.0);
    cv::blur(n, n, horizontal ? cv::Size(length, 1) : cv::Size(1, length), cv::Point(-1, -1), cv::BORDER_REFLECT);
    cv::GaussianBlur(n, n, cv::Size(), 0.6);
    cv::Scalar mean, dev;
    cv::meanStdDev(n, mean, dev);
    return (n - mean[0]) / std::max(dev[0], 1e-6);
}

// Slow variations of the surface (heat tint, wear), a few cells across.
cv::Mat lowFrequency(cv::RNG& rng, int cells)
{
    cv::Mat small(std::max(2, cells * kSize.height / kSize.width), cells, CV_32F);
    rng.fill(small, cv::RNG::NORMAL, 0.0, 1.0);
    cv::GaussianBlur(small, small, cv::Size(), 0.6);
    cv::Mat big;
    cv::resize(small, big, kSize, 0, 0, cv::INTER_CUBIC);
    cv::Scalar mean, dev;
    cv::meanStdDev(big, mean, dev);
    return (big - mean[0]) / std::max(dev[0], 1e-6);
}

cv::Mat emptyMask()
{
    return cv::Mat::zeros(kSize, CV_8U);
}

cv::Mat roundedRectMask(const cv::Rect& r, int radius)
{
    cv::Mat m = emptyMask();
    radius = std::min({radius, r.width / 2, r.height / 2});
    cv::rectangle(m, cv::Rect(r.x + radius, r.y, r.width - 2 * radius, r.height), 255, cv::FILLED);
    cv::rectangle(m, cv::Rect(r.x, r.y + radius, r.width, r.height - 2 * radius), 255, cv::FILLED);
    const int right = r.x + r.width - 1 - radius;
    const int bottom = r.y + r.height - 1 - radius;
    for (const cv::Point& c : {cv::Point(r.x + radius, r.y + radius), cv::Point(right, r.y + radius),
                               cv::Point(r.x + radius, bottom), cv::Point(right, bottom)}) {
        cv::circle(m, c, radius, 255, cv::FILLED, cv::LINE_8);
    }
    return m;
}

cv::Mat circleMask(cv::Point centre, int radius)
{
    cv::Mat m = emptyMask();
    cv::circle(m, centre, radius, 255, cv::FILLED, cv::LINE_8);
    return m;
}

cv::Point centreOf(const cv::Rect& r)
{
    return {r.x + r.width / 2, r.y + r.height / 2};
}

// Sets height, brightness and shine where the mask is set; texture (unit
// noise) varies the brightness by textureAmount.
void paint(Scene& s, const cv::Mat& mask, float height, float albedo, float gloss,
           const cv::Mat& texture = cv::Mat(), float textureAmount = 0.0f)
{
    s.height.setTo(height, mask);
    if (texture.empty()) {
        s.albedo.setTo(albedo, mask);
    } else {
        cv::Mat a = albedo + textureAmount * texture;
        a.copyTo(s.albedo, mask);
    }
    s.gloss.setTo(gloss, mask);
}

void paintHeight(Scene& s, const cv::Mat& mask, const cv::Mat& height)
{
    height.copyTo(s.height, mask);
}

cv::Mat pocketMask(const MouldLayout& layout, const cv::Rect& cavity, int inset)
{
    const cv::Rect r(cavity.x + inset, cavity.y + inset, cavity.width - 2 * inset, cavity.height - 2 * inset);
    if (layout.shape == MouldLayout::Round) {
        return circleMask(centreOf(cavity), r.width / 2);
    }
    return roundedRectMask(r, std::max(4, 22 - inset));
}

void addScrew(Scene& s, cv::Point c)
{
    paint(s, circleMask(c, 23), -18.0f, 0.30f, 0.10f);
    paint(s, circleMask(c, 17), -5.0f, 0.36f, 0.45f);
    std::vector<cv::Point> hexagon;
    for (int i = 0; i < 6; ++i) {
        const double a = CV_PI / 3.0 * i + 0.3;
        hexagon.emplace_back(c.x + int(std::lround(8 * std::cos(a))), c.y + int(std::lround(8 * std::sin(a))));
    }
    cv::Mat socket = emptyMask();
    cv::fillConvexPoly(socket, hexagon, 255, cv::LINE_8);
    paint(s, socket, -20.0f, 0.08f, 0.0f);
}

void addGuideBush(Scene& s, cv::Point c, const cv::Mat& ground)
{
    paint(s, circleMask(c, 60), 1.0f, 0.70f, 0.55f, ground, 0.03f);
    paint(s, circleMask(c, 52), 0.0f, 0.55f, 0.30f);
    paint(s, circleMask(c, 37), -90.0f, 0.10f, 0.05f);
}

// The gate of a cavity: the point of its pocket wall that faces the sprue.
cv::Point gatePoint(const MouldLayout& layout, const cv::Rect& cavity)
{
    const cv::Point sprue = centreOf(layout.plate);
    const cv::Point c = centreOf(cavity);
    if (layout.shape == MouldLayout::Round) {
        return {c.x, c.y < sprue.y ? cavity.y + cavity.height : cavity.y};
    }
    return {c.x < sprue.x ? cavity.x + cavity.width : cavity.x, c.y};
}

Scene buildOpenMould(const MouldLayout& layout, cv::RNG& rng)
{
    Scene s{cv::Mat(kSize, CV_32F, cv::Scalar(-260.0f)), cv::Mat(kSize, CV_32F, cv::Scalar(0.0f)),
            cv::Mat(kSize, CV_32F, cv::Scalar(0.05f))};

    // The machine behind the mould, in shadow.
    const cv::Mat dim = lowFrequency(rng, 6);
    s.albedo = 0.10f + 0.03f * dim;

    // Clamping plate around the mould, milled, with its clamp slots.
    const cv::Rect plate = layout.plate;
    const cv::Rect clamp(plate.x - 90, plate.y - 60, plate.width + 180, plate.height + 120);
    const cv::Mat milled = brushed(rng, false, 25);
    paint(s, roundedRectMask(clamp, 6), -80.0f, 0.34f, 0.10f, milled, 0.03f);
    for (int side = 0; side < 2; ++side) {
        const int x = side == 0 ? clamp.x + 20 : clamp.x + clamp.width - 58;
        for (int k = 0; k < 2; ++k) {
            const int y = clamp.y + clamp.height / 4 + k * clamp.height / 2 - 45;
            paint(s, roundedRectMask(cv::Rect(x, y, 38, 90), 18), -150.0f, 0.06f, 0.0f);
        }
    }

    // The plate face: surface-ground steel with slow tint and a few scratches.
    const cv::Mat ground = brushed(rng, true, 61);
    const cv::Mat tint = lowFrequency(rng, 9);
    const cv::Mat fine = unitNoise(rng, 0.8);
    cv::Mat face = 0.60f + 0.030f * tint + 0.040f * ground + 0.010f * fine;
    const cv::Mat plateMask = roundedRectMask(plate, 8);
    face.copyTo(s.albedo, plateMask);
    s.height.setTo(0.0f, plateMask);
    s.gloss.setTo(0.28f, plateMask);
    for (int i = 0; i < 40; ++i) {
        const cv::Point a(rng.uniform(plate.x + 20, plate.x + plate.width - 20),
                          rng.uniform(plate.y + 20, plate.y + plate.height - 20));
        const double angle = rng.uniform(0.0, CV_PI);
        const int length = rng.uniform(15, 140);
        const cv::Point b(a.x + int(length * std::cos(angle)), a.y + int(length * std::sin(angle)));
        cv::Mat scratch = emptyMask();
        cv::line(scratch, a, b, 255, 1, cv::LINE_AA);
        cv::Mat lit = s.albedo + float(rng.uniform(-0.06, 0.08));
        lit.copyTo(s.albedo, scratch & plateMask);
    }
    // Oil and release-agent stains: soft dark blobs, drawn in a window around each.
    for (int i = 0; i < 6; ++i) {
        const int radius = rng.uniform(15, 50);
        const cv::Point c(rng.uniform(plate.x + 60, plate.x + plate.width - 60),
                          rng.uniform(plate.y + 60, plate.y + plate.height - 60));
        const cv::Rect window = cv::Rect(c.x - 120, c.y - 120, 240, 240) & plate;
        cv::Mat stain(window.size(), CV_32F, cv::Scalar(0.0f));
        cv::circle(stain, c - window.tl(), radius, cv::Scalar(1.0f), cv::FILLED);
        cv::GaussianBlur(stain, stain, cv::Size(), 18.0);
        cv::Mat albedo = s.albedo(window);
        albedo -= 0.12f * stain;
    }
    // Guide bushes in the corners, cap screws along the edges, the sprue bush.
    const int inset = 85;
    for (const cv::Point& c : {cv::Point(plate.x + inset, plate.y + inset),
                               cv::Point(plate.x + plate.width - inset, plate.y + inset),
                               cv::Point(plate.x + inset, plate.y + plate.height - inset),
                               cv::Point(plate.x + plate.width - inset, plate.y + plate.height - inset)}) {
        addGuideBush(s, c, ground);
    }
    for (int k = 1; k <= 3; ++k) {
        const int x = plate.x + plate.width * k / 4;
        addScrew(s, {x, plate.y + 38});
        addScrew(s, {x, plate.y + plate.height - 38});
    }
    for (int k = 1; k <= 2; ++k) {
        const int y = plate.y + plate.height * k / 3;
        addScrew(s, {plate.x + 38, y});
        addScrew(s, {plate.x + plate.width - 38, y});
    }
    const cv::Point sprue = centreOf(plate);
    paint(s, circleMask(sprue, 46), 0.8f, 0.72f, 0.6f, ground, 0.02f);
    paint(s, circleMask(sprue, 40), -2.0f, 0.62f, 0.4f);
    paint(s, circleMask(sprue, 11), -40.0f, 0.08f, 0.0f);

    // Runners from the sprue to every gate: polished half-round grooves.
    cv::Mat runners = emptyMask();
    for (const cv::Rect& cavity : layout.cavities) {
        const cv::Point gate = gatePoint(layout, cavity);
        const cv::Point bend = layout.shape == MouldLayout::Round ? cv::Point(gate.x, sprue.y) : cv::Point(sprue.x, gate.y);
        cv::line(runners, sprue, bend, 255, 13, cv::LINE_8);
        cv::line(runners, bend, gate, 255, 13, cv::LINE_8);
    }
    runners.setTo(0, circleMask(sprue, 11));
    paint(s, runners, -7.0f, 0.68f, 0.65f);

    // The cavities: pockets with an eroded floor, cores, ejector pins.
    const cv::Mat eroded = unitNoise(rng, 1.1);
    const cv::Mat coreGrind = brushed(rng, false, 41);
    for (int i = 0; i < int(layout.cavities.size()); ++i) {
        const cv::Rect& cavity = layout.cavities[size_t(i)];
        const cv::Point c = centreOf(cavity);
        paint(s, pocketMask(layout, cavity, 0), -kPocketDepth, 0.50f, 0.12f, eroded, 0.045f);
        std::vector<cv::Point> pins;
        if (layout.shape == MouldLayout::Rectangular) {
            const cv::Rect core(cavity.x + cavity.width / 4, cavity.y + cavity.height / 4, cavity.width / 2,
                                cavity.height / 2);
            paint(s, roundedRectMask(core, 14), -14.0f, 0.60f, 0.30f, coreGrind, 0.04f);
            // Rib slots cut into the core.
            for (int k = 1; k <= 3; ++k) {
                const int x = core.x + core.width * k / 4;
                cv::Mat slot = emptyMask();
                cv::line(slot, {x, core.y + 14}, {x, core.y + core.height - 14}, 255, 7, cv::LINE_8);
                paint(s, slot, -40.0f, 0.30f, 0.05f);
            }
            pins = {{cavity.x + 34, cavity.y + 34},
                    {cavity.x + cavity.width - 34, cavity.y + 34},
                    {cavity.x + 34, cavity.y + cavity.height - 34},
                    {cavity.x + cavity.width - 34, cavity.y + cavity.height - 34}};
        } else {
            const int r = cavity.width / 2;
            cv::Mat ring = emptyMask();
            cv::circle(ring, c, r * 7 / 10, 255, 6, cv::LINE_8);
            paint(s, ring, -kPocketDepth - 6.0f, 0.38f, 0.05f);
            paint(s, circleMask(c, r * 4 / 10), -kPocketDepth + 5.0f, 0.58f, 0.3f, coreGrind, 0.03f);
            pins = {c};
        }
        for (const cv::Point& p : pins) {
            paint(s, circleMask(p, 10), -kPocketDepth - 4.0f, 0.15f, 0.0f);
            paint(s, circleMask(p, 7), -kPocketDepth - 0.5f, 0.74f, 0.7f);
        }
        // Cavity number engraved beside the pocket.
        cv::Mat digit = emptyMask();
        const cv::Point at(cavity.x + 6, cavity.y - 12);
        cv::putText(digit, std::to_string(i + 1), at, cv::FONT_HERSHEY_SIMPLEX, 0.9, 255, 2, cv::LINE_8);
        paint(s, digit, -2.0f, 0.45f, 0.05f);
    }
    return s;
}

// A moulded part left in its cavity: lighter plastic, smooth, tilted a little
// where it came loose, with ribs, a boss and the stub of the runner.
void addPart(Scene& s, const MouldLayout& layout, cv::RNG& rng)
{
    const cv::Rect& cavity = layout.cavities[size_t(layout.partCavity)];
    const cv::Mat part = pocketMask(layout, cavity, kPartInset);
    const cv::Point c = centreOf(cavity);

    cv::Mat tilt(kSize, CV_32F);
    for (int y = 0; y < kSize.height; ++y) {
        float* row = tilt.ptr<float>(y);
        for (int x = 0; x < kSize.width; ++x) {
            row[x] = -12.0f + 6.0f * float(x - cavity.x) / float(cavity.width)
                     + 3.0f * float(y - cavity.y) / float(cavity.height);
        }
    }
    const cv::Mat smooth = unitNoise(rng, 3.0);
    paint(s, part, 0.0f, 0.86f, 0.20f, smooth, 0.012f);
    paintHeight(s, part, tilt);

    if (layout.shape == MouldLayout::Rectangular) {
        // The part is the cavity's negative: the core leaves a recess, its
        // slots leave ribs standing in it, and the ejector pins leave marks.
        const cv::Rect core(cavity.x + cavity.width / 4, cavity.y + cavity.height / 4, cavity.width / 2,
                            cavity.height / 2);
        cv::Mat recess = tilt - 5.0f;
        paintHeight(s, roundedRectMask(core, 14) & part, recess);
        for (int k = 1; k <= 3; ++k) {
            const int x = core.x + core.width * k / 4;
            cv::Mat rib = emptyMask();
            cv::line(rib, {x, core.y + 14}, {x, core.y + core.height - 14}, 255, 7, cv::LINE_8);
            cv::Mat raised = tilt + 1.0f;
            paintHeight(s, rib & part, raised);
        }
        for (const cv::Point& p : {cv::Point(cavity.x + 34, cavity.y + 34),
                                   cv::Point(cavity.x + cavity.width - 34, cavity.y + 34),
                                   cv::Point(cavity.x + 34, cavity.y + cavity.height - 34),
                                   cv::Point(cavity.x + cavity.width - 34, cavity.y + cavity.height - 34)}) {
            cv::Mat mark = tilt - 0.8f;
            paintHeight(s, circleMask(p, 7) & part, mark);
        }
    } else {
        // Knurled rim of a cap.
        const int r = cavity.width / 2 - kPartInset;
        cv::Mat rim(kSize, CV_32F);
        for (int y = 0; y < kSize.height; ++y) {
            float* row = rim.ptr<float>(y);
            for (int x = 0; x < kSize.width; ++x) {
                const double a = std::atan2(double(y - c.y), double(x - c.x));
                row[x] = float(1.5 * std::sin(72.0 * a));
            }
        }
        cv::Mat annulus = part.clone();
        annulus.setTo(0, circleMask(c, r - 16));
        cv::Mat knurled = tilt + rim;
        paintHeight(s, annulus, knurled);
        cv::Mat ring = emptyMask();
        cv::circle(ring, c, r / 2, 255, 3, cv::LINE_8);
        cv::Mat raised = tilt + 1.5f;
        paintHeight(s, ring & part, raised);
    }
    // What is left of the gate where the runner broke off.
    const cv::Point gate = gatePoint(layout, cavity);
    const cv::Point inward = centreOf(cavity) - gate;
    const double length = std::sqrt(double(inward.dot(inward)));
    const cv::Point vestige = gate + cv::Point(int(inward.x * 40 / length), int(inward.y * 40 / length));
    cv::Mat lifted = tilt + 2.5f;
    paintHeight(s, circleMask(vestige, 9) & part, lifted);
}

// Light from a ring lamp above and left of the lens, a slightly soft lens with
// vignetting, and sensor noise. The noise field depends only on the seed, so
// two scenes that differ in one place give pictures that differ only there.
cv::Mat render(const Scene& s, const cv::Mat& occlusion, unsigned seed)
{
    cv::Mat h;
    cv::GaussianBlur(s.height, h, cv::Size(9, 9), 1.3);
    cv::Mat gx, gy;
    cv::Sobel(h, gx, CV_32F, 1, 0, 3, 1.0 / 8.0);
    cv::Sobel(h, gy, CV_32F, 0, 1, 3, 1.0 / 8.0);

    const cv::Point3f lamp(0.30f * kSize.width, 0.18f * kSize.height, 1700.0f);
    const float cx = 0.5f * kSize.width, cy = 0.5f * kSize.height;
    const float rmax2 = cx * cx + cy * cy;
    cv::Mat picture(kSize, CV_32F);
    for (int y = 0; y < kSize.height; ++y) {
        const float* hp = h.ptr<float>(y);
        const float* gxp = gx.ptr<float>(y);
        const float* gyp = gy.ptr<float>(y);
        const float* ap = s.albedo.ptr<float>(y);
        const float* sp = s.gloss.ptr<float>(y);
        const float* op = occlusion.ptr<float>(y);
        float* out = picture.ptr<float>(y);
        for (int x = 0; x < kSize.width; ++x) {
            cv::Point3f n(-gxp[x], -gyp[x], 1.0f);
            n *= 1.0f / std::sqrt(n.dot(n));
            cv::Point3f l(lamp.x - float(x), lamp.y - float(y), lamp.z - hp[x]);
            const float distance2 = l.dot(l);
            l *= 1.0f / std::sqrt(distance2);
            const float diffuse = std::max(0.0f, n.dot(l));
            cv::Point3f half(l.x, l.y, l.z + 1.0f);
            half *= 1.0f / std::sqrt(half.dot(half));
            const float specular = sp[x] * std::pow(std::max(0.0f, n.dot(half)), 60.0f);
            const float falloff = 1700.0f * 1700.0f / distance2;
            const float dx = float(x) - cx, dy = float(y) - cy;
            const float vignette = 1.0f - 0.30f * (dx * dx + dy * dy) / rmax2;
            const float light = (0.18f + 0.95f * diffuse * falloff) * op[x];
            out[x] = 255.0f * vignette * (ap[x] * light + 0.55f * specular * falloff);
        }
    }
    cv::GaussianBlur(picture, picture, cv::Size(5, 5), 0.7);

    cv::RNG rng(seed ^ 0x5eed5eedu);
    cv::Mat noise(kSize, CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 1.0);
    cv::Mat sigma;
    cv::sqrt(cv::max(picture, 0.0f) * 0.025f + 1.6f, sigma);
    picture += noise.mul(sigma);
    cv::Mat grey;
    picture.convertTo(grey, CV_8U);
    return grey;
}

// Corners and pockets catch less light: the farther a point lies below its
// surroundings, the darker.
cv::Mat occlusionOf(const cv::Mat& height)
{
    // Worked out at a quarter of the size: it varies slowly.
    cv::Mat small, around;
    cv::resize(height, small, cv::Size(), 0.25, 0.25, cv::INTER_AREA);
    cv::GaussianBlur(small, small, cv::Size(), 3.5);
    cv::resize(small, around, height.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat depth = around - height;
    cv::Mat occlusion = 1.0f - 0.012f * cv::max(depth, 0.0f);
    return cv::max(occlusion, 0.55f);
}

Scene buildScene(const MouldLayout& layout)
{
    cv::RNG rng(layout.seed);
    return buildOpenMould(layout, rng);
}

} // namespace

MouldLayout mouldLayout(int camera)
{
    MouldLayout layout;
    if (camera == 0) {
        layout.plate = cv::Rect(250, 110, 1420, 860);
        layout.shape = MouldLayout::Rectangular;
        const int w = 440, h = 250;
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 2; ++col) {
                const int x = layout.plate.x + (col == 0 ? 170 : layout.plate.width - 170 - w);
                const int y = layout.plate.y + (row == 0 ? 130 : layout.plate.height - 130 - h);
                layout.cavities.emplace_back(x, y, w, h);
            }
        }
        layout.partCavity = 3;
        layout.seed = 1517;
    } else {
        layout.plate = cv::Rect(170, 150, 1580, 780);
        layout.shape = MouldLayout::Round;
        const int d = 220;
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 4; ++col) {
                const int x = layout.plate.x + 190 + col * 320;
                const int y = layout.plate.y + (row == 0 ? 95 : layout.plate.height - 95 - d);
                layout.cavities.emplace_back(x, y, d, d);
            }
        }
        layout.partCavity = 5;
        layout.seed = 2527;
    }
    return layout;
}

void renderMouldPictures(const MouldLayout& layout, cv::Mat* openMould, cv::Mat* partLeft)
{
    const Scene open = buildScene(layout);
    const cv::Mat openOcclusion = occlusionOf(open.height);
    if (openMould) {
        *openMould = render(open, openOcclusion, layout.seed);
    }
    if (!partLeft) {
        return;
    }
    Scene s{open.height.clone(), open.albedo.clone(), open.gloss.clone()};
    cv::RNG rng(layout.seed * 7919u + 13u);
    addPart(s, layout, rng);

    // Occlusion of the part, blended into that of the open mould only inside
    // the cavity, so nothing outside it changes.
    const cv::Mat partOcclusion = occlusionOf(s.height);
    cv::Mat weight = emptyMask();
    const cv::Rect& cavity = layout.cavities[size_t(layout.partCavity)];
    weight(cv::Rect(cavity.x + 8, cavity.y + 8, cavity.width - 16, cavity.height - 16)).setTo(255);
    cv::Mat w;
    weight.convertTo(w, CV_32F, 1.0 / 255.0);
    cv::GaussianBlur(w, w, cv::Size(9, 9), 2.0);
    cv::Mat occlusion = openOcclusion + w.mul(partOcclusion - openOcclusion);
    *partLeft = render(s, occlusion, layout.seed);
}

namespace {

bool writeGreyBitmap(const cv::Mat& grey, const QString& path, QString* error)
{
    QImage image(grey.cols, grey.rows, QImage::Format_Indexed8);
    QVector<QRgb> table(256);
    for (int v = 0; v < 256; ++v) {
        table[v] = qRgb(v, v, v);
    }
    image.setColorTable(table);
    for (int y = 0; y < grey.rows; ++y) {
        std::memcpy(image.scanLine(y), grey.ptr<uchar>(y), size_t(grey.cols));
    }
    if (!image.save(path, "BMP")) {
        if (error) {
            *error = QStringLiteral("cannot write %1").arg(path);
        }
        return false;
    }
    return true;
}

} // namespace

bool writeMouldPictures(const QString& folder, QString* error)
{
    for (int camera = 0; camera < 2; ++camera) {
        const QString dir = QDir(folder).filePath(QStringLiteral("cammer%1").arg(10 * camera + 15));
        if (!QDir().mkpath(dir)) {
            if (error) {
                *error = QStringLiteral("cannot create %1").arg(dir);
            }
            return false;
        }
        cv::Mat openMould, partLeft;
        renderMouldPictures(mouldLayout(camera), &openMould, &partLeft);
        if (!writeGreyBitmap(openMould, QDir(dir).filePath(QStringLiteral("template0.bmp")), error)
            || !writeGreyBitmap(partLeft, QDir(dir).filePath(QStringLiteral("template1.bmp")), error)) {
            return false;
        }
    }
    return true;
}
