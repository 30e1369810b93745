#include "storage/pager/RecorderType.h"

#include "base/IFormatable.h"

const RecorderType RecorderType::Recorder("REC.");
const RecorderType RecorderType::Backup("BKUP");
const RecorderType RecorderType::Archive("ARCH");
const RecorderType RecorderType::Morning("MRNG");
const RecorderType RecorderType::Flac("FLAC");

void RecorderType::toString(IFormatable& out) const {
    const uint8_t* b = bytes();
    out.format("%c%c%c%c", b[0], b[1], b[2], b[3]);
}
