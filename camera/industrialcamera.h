#pragma once

#include "camerainterface.h"
#include "droppedframelog.h"
#include "framehandover.h"

// What the three industrial-camera drivers share: the frame hand-over between
// the SDK's threads and the GUI thread, the refused-frame log, and the
// operations that behave alike on all three (or do nothing on them).
//
// The drivers keep one rule that makes their SDK callbacks safe: anything a
// callback reads (frame size, colour flags, conversion buffers, the SDK
// handle) is changed only while the driver has no SDK handle open, and every
// SDK close returns only when no callback runs or will run. So open first
// gives an old handle up, then sizes its buffers; close, release and the
// destructor close the handle before anything is freed.
class IndustrialCamera : public CameraInterface {
    Q_OBJECT
public:
    ~IndustrialCamera() override;

    void release() override;
    QJsonObject autoAdjust(bool on) override;
    void setContrast(int value) override;
    void setWideDynamicRange(bool on) override;
    void oneShotWhiteBalance() override;
    void setAutoExposure(bool on) override;
    void setColorOutput(bool on) override;
    void setDisplayWindow(QWidget* window) override;
    void setMirror(bool horizontal, bool vertical) override;
    void setDetectConfig(QVariant config, int flag) override;
    void query(QVariant request, QVariant& reply, int flag) override;
    bool takeFrameCount(int& frames) override;
    void softTrigger() override;
    void getSize(int& width, int& height) override;
    QString serial() override;
    bool getFrame(void* destination) override;
    int spectrum() override;
    bool isOnline() override;

    // Bytes of one frame as getFrame copies it (0 before open).
    int frameBytes() const { return handOver.bytes(); }
    // Frames refused since creation.
    int droppedFrames() const { return drops.droppedCount(); }

protected:
    IndustrialCamera() = default;
    // A driver for that device: the record kept, online until told otherwise.
    explicit IndustrialCamera(const CameraInfo& record);

    // Sizes the hand-over for width x height in the colour mode open took.
    bool allocateFrames();
    // What differs between a delivered frame and the one open set up, or an
    // empty text when they agree.
    QString frameMismatch(int frameWidth, int frameHeight, qint64 frameLength, qint64 expectedLength) const;

    FrameHandOver handOver;
    DroppedFrameLog drops;
    // The colour output flag as open took it: what the buffers are sized for
    // and the callbacks deliver. A later setColorOutput waits for the next open.
    bool colourFrames = false;
};
