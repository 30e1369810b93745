#pragma once

#include <cstdint>

#include "network/protocol/ISyncOption.h"

// Sync option 2: what recorder answers. u8 productKind (1-5), u32 modelCode (one of the
// known models; any other code reads as 0), string modelName, string version.
class ProductInfo : public ISyncOption {
public:
    static constexpr int TextSize = 17;
    // The four-channel model, whose channel counts differ from the sixteen of the others.
    static constexpr uint32_t SmallModelCode = 0x0401;

    ProductInfo();
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override;
    uint8_t id() const override { return SyncOptionId::ProductInfo; }

    static bool isKnownModel(uint32_t modelCode);

    uint8_t productKind() const { return _productKind; }
    uint32_t modelCode() const { return _modelCode; }
    const char* modelName() const { return _modelName; }
    const char* version() const { return _version; }
    void set(uint8_t productKind, uint32_t modelCode, const char* modelName, const char* version);
    void clear();

private:
    uint8_t _productKind;
    uint32_t _modelCode;
    char _modelName[TextSize];
    char _version[TextSize];
};
