// Aligns the busy test pair once in a fresh process and prints the outcome
// and the homography, for the alignment test to compare with its own.
#include "alignmodel.h"
#include "alignpair.h"

#include <cstdio>

int main()
{
    AlignModel model;
    if (!model.Train(busyTemplate(), cv::Mat(), kAlignMinKeypoints)) {
        std::printf("untrained\n");
        return 1;
    }
    cv::Mat out;
    const bool aligned = model.Align(busyLive(), out, kAlignConfidence);
    std::printf("%d", aligned ? 1 : 0);
    if (aligned) {
        const cv::Matx33d h(model.Homography());
        for (double v : h.val)
            std::printf(" %.17g", v);
    }
    std::printf("\n");
    return 0;
}
