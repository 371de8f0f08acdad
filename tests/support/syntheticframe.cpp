#include "syntheticframe.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

struct Vec2 {
    double x;
    double y;
};

double boxDistance(Vec2 p, Vec2 centre, Vec2 half, double radius)
{
    const double qx = std::fabs(p.x - centre.x) - half.x + radius;
    const double qy = std::fabs(p.y - centre.y) - half.y + radius;
    const double ox = std::max(qx, 0.0);
    const double oy = std::max(qy, 0.0);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

double circleDistance(Vec2 p, Vec2 centre, double radius)
{
    return std::hypot(p.x - centre.x, p.y - centre.y) - radius;
}

// Share of a pixel covered by a shape, from the signed distance of its centre:
// an edge blends over one pixel.
double coverage(double distance)
{
    return std::clamp(0.5 - distance, 0.0, 1.0);
}

double mix(double a, double b, double t)
{
    return a + (b - a) * t;
}

double partWidthOf(const SyntheticScene& s)
{
    return s.partWidth > 0.0 ? s.partWidth : 0.40 * s.width;
}

double partHeightOf(const SyntheticScene& s)
{
    return s.partHeight > 0.0 ? s.partHeight : 0.33 * s.height;
}

Vec2 nominalCentre(const SyntheticScene& s)
{
    return { s.centreX >= 0.0 ? s.centreX : 0.5 * s.width,
             s.centreY >= 0.0 ? s.centreY : 0.5 * s.height };
}

// Brushed steel with machined features, fixed by the mould seed. Features stay
// clear of the part's nominal box so that the part's own outline is what a
// positioning area around it sees.
cv::Mat mouldSteel(const SyntheticScene& s)
{
    const int w = s.width;
    const int h = s.height;
    cv::RNG rng(s.mouldSeed * 2654435761u + 12345u);

    // Spark-eroded finish: isotropic grain over a slow cloudiness, with faint
    // grinding marks along x.
    cv::Mat grain(h, w, CV_32F);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, 4.0);
    cv::Mat cloud(std::max(2, h / 32), std::max(2, w / 32), CV_32F);
    rng.fill(cloud, cv::RNG::NORMAL, 0.0, 6.0);
    cv::resize(cloud, cloud, cv::Size(w, h), 0, 0, cv::INTER_CUBIC);
    cv::Mat streaks(h, std::max(4, w / 24), CV_32F);
    rng.fill(streaks, cv::RNG::NORMAL, 0.0, 1.5);
    cv::resize(streaks, streaks, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::Mat steel = grain + cloud + streaks + 105.0;

    const Vec2 centre = nominalCentre(s);
    const double keepW = 0.5 * partWidthOf(s) + 0.08 * w;
    const double keepH = 0.5 * partHeightOf(s) + 0.08 * h;
    const double unit = std::min(w, h);

    struct Pin {
        Vec2 at;
        double radius;
    };
    std::vector<Pin> pins;
    for (int tries = 0; tries < 200 && pins.size() < 6; ++tries) {
        const Pin p { { rng.uniform(0.05, 0.95) * w, rng.uniform(0.05, 0.95) * h },
                      rng.uniform(0.025, 0.05) * unit };
        if (std::fabs(p.at.x - centre.x) < keepW + p.radius
            && std::fabs(p.at.y - centre.y) < keepH + p.radius)
            continue;
        pins.push_back(p);
    }
    const double partingY = centre.y + keepH + 0.5 * (h - centre.y - keepH);

    for (int y = 0; y < h; ++y) {
        float* row = steel.ptr<float>(y);
        for (int x = 0; x < w; ++x) {
            const Vec2 p { x + 0.0, y + 0.0 };
            double v = row[x];
            for (const Pin& pin : pins) {
                v = mix(v, 62.0, coverage(circleDistance(p, pin.at, pin.radius)));
                v = mix(v, 140.0, coverage(circleDistance(p, pin.at, 0.7 * pin.radius)));
            }
            if (partingY < h - 2)
                v = mix(v, 55.0, coverage(std::fabs(y - partingY) - 1.0));
            row[x] = static_cast<float>(v);
        }
    }
    return steel;
}

} // namespace

cv::Rect syntheticPartBox(const SyntheticScene& scene, int margin)
{
    const Vec2 c = nominalCentre(scene);
    const double pw = partWidthOf(scene);
    const double ph = partHeightOf(scene);
    const int left = static_cast<int>(std::floor(c.x - 0.5 * pw)) - margin;
    const int top = static_cast<int>(std::floor(c.y - 0.5 * ph)) - margin;
    const int right = static_cast<int>(std::ceil(c.x + 0.5 * pw)) + margin;
    const int bottom = static_cast<int>(std::ceil(c.y + 0.5 * ph)) + margin;
    return cv::Rect(cv::Point(left, top), cv::Point(right, bottom))
        & cv::Rect(0, 0, scene.width, scene.height);
}

SyntheticFrame makeSyntheticFrame(const SyntheticScene& s)
{
    SyntheticFrame frame;
    if (s.width <= 0 || s.height <= 0)
        return frame;
    const int w = s.width;
    const int h = s.height;
    cv::Mat picture = mouldSteel(s);

    const Vec2 nominal = nominalCentre(s);
    const Vec2 centre { nominal.x + s.dx, nominal.y + s.dy };
    const double a = partWidthOf(s);
    const double b = partHeightOf(s);
    const double small = std::min(a, b);
    const double radians = s.angle * CV_PI / 180.0;
    const double c = std::cos(radians);
    const double sn = std::sin(radians);

    if (s.withPart) {
        for (int y = 0; y < h; ++y) {
            float* row = picture.ptr<float>(y);
            for (int x = 0; x < w; ++x) {
                // Screen = R(angle) * local + centre with y pointing down, so a
                // positive angle turns clockwise; invert it for the local point.
                const double rx = x - centre.x;
                const double ry = y - centre.y;
                const Vec2 p { rx * c + ry * sn, -rx * sn + ry * c };
                if (std::fabs(p.x) > 0.5 * a + 2.0 + a * 0.1 || std::fabs(p.y) > 0.5 * b + 2.0 + b * 0.1)
                    continue;

                const double plate = std::max(
                    boxDistance(p, { 0, 0 }, { 0.5 * a, 0.5 * b }, 0.12 * small),
                    -boxDistance(p, { 0.32 * a, -0.5 * b }, { 0.08 * a, 0.12 * b }, 0.0));
                const double onPlate = coverage(plate);
                double v = row[x];
                if (onPlate > 0.0) {
                    const double shade = 178.0 + 18.0 * (p.x / a);
                    // Features are blended over the plate only where the plate is.
                    double part = shade;
                    part = mix(part, 0.45 * v,
                               coverage(circleDistance(p, { -0.26 * a, -0.08 * b }, 0.13 * small)));
                    part = mix(part, 222.0,
                               coverage(circleDistance(p, { 0.22 * a, 0.12 * b }, 0.17 * small)));
                    part = mix(part, 72.0,
                               coverage(circleDistance(p, { 0.22 * a, 0.12 * b }, 0.07 * small)));
                    part = mix(part, 138.0,
                               coverage(boxDistance(p, { -0.12 * a, 0.33 * b },
                                                    { 0.25 * a, 0.045 * b }, 0.0)));
                    v = mix(v, part, onPlate);
                }
                if (s.occlusion > 0.0) {
                    const double cover = std::clamp(s.occlusion, 0.0, 1.0) * a;
                    const double hidden = boxDistance(
                        p, { 0.5 * a - 0.5 * cover + 2.0, 0 }, { 0.5 * cover + 2.0, 0.5 * b + 4.0 }, 0.0);
                    v = mix(v, 32.0, coverage(hidden));
                }
                row[x] = static_cast<float>(v);
            }
        }
    }

    for (int y = 0; y < h; ++y) {
        float* row = picture.ptr<float>(y);
        const double vertical = 0.5 * s.illumination * (y - 0.5 * h) / h;
        for (int x = 0; x < w; ++x) {
            const double light = 1.0 + s.illumination * (x - 0.5 * w) / w + vertical;
            row[x] = static_cast<float>(s.gain * row[x] * light + s.offset);
        }
    }

    if (s.blurSigma > 0.0)
        cv::GaussianBlur(picture, picture, cv::Size(), s.blurSigma);

    const bool cameraMoved = s.cameraDx != 0.0 || s.cameraDy != 0.0 || s.cameraAngle != 0.0
        || s.perspective != 0.0;
    if (cameraMoved) {
        const double inset = s.perspective * w;
        const cv::Point2f from[4] = { { 0.0f, 0.0f }, { float(w), 0.0f }, { float(w), float(h) },
                                      { 0.0f, float(h) } };
        const cv::Point2f to[4] = { { float(inset), 0.0f }, { float(w - inset), 0.0f },
                                    { float(w), float(h) }, { 0.0f, float(h) } };
        const cv::Matx33d keystone = cv::Matx33d(cv::getPerspectiveTransform(from, to));
        const double t = s.cameraAngle * CV_PI / 180.0;
        const double cx = 0.5 * w;
        const double cy = 0.5 * h;
        const cv::Matx33d toCentre(1, 0, -cx, 0, 1, -cy, 0, 0, 1);
        const cv::Matx33d turn(std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1);
        const cv::Matx33d back(1, 0, cx + s.cameraDx, 0, 1, cy + s.cameraDy, 0, 0, 1);
        frame.cameraHomography = back * turn * toCentre * keystone;
        cv::Mat moved;
        cv::warpPerspective(picture, moved, cv::Mat(frame.cameraHomography), picture.size(),
                            cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
        picture = moved;
    }

    if (s.noiseSigma > 0.0) {
        cv::Mat noise(h, w, CV_32F);
        cv::RNG rng(s.noiseSeed * 747796405u + 2891336453u);
        rng.fill(noise, cv::RNG::NORMAL, 0.0, s.noiseSigma);
        picture += noise;
    }
    picture.convertTo(frame.image, CV_8UC1);

    const cv::Vec3d placed = frame.cameraHomography * cv::Vec3d(centre.x, centre.y, 1.0);
    frame.partCentre = cv::Point2d(placed[0] / placed[2], placed[1] / placed[2]);
    frame.partAngle = s.angle + s.cameraAngle;
    return frame;
}
