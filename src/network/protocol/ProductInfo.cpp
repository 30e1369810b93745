#include "network/protocol/ProductInfo.h"

#include <algorithm>
#include <iterator>

#include "network/protocol/WireText.h"

namespace {

// The recorder models this client knows: four-, eight-, sixteen-, twenty-, thirty-two-,
// forty-eight- and sixty-four-channel families.
constexpr uint32_t KnownModels[] = {
    0x0401, 0x0402, 0x0403, 0x0801, 0x0802, 0x0803, 0x1001, 0x1002, 0x1003, 0x1601, 0x1602,
    0x1603, 0x1604, 0x1605, 0x2001, 0x2002, 0x3201, 0x3202, 0x3203, 0x4801, 0x6401,
};

}  // namespace

ProductInfo::ProductInfo() {
    clear();
}

void ProductInfo::clear() {
    _productKind = 0;
    _modelCode = 0;
    _modelName[0] = '\0';
    _version[0] = '\0';
}

bool ProductInfo::isKnownModel(uint32_t modelCode) {
    return std::find(std::begin(KnownModels), std::end(KnownModels), modelCode) != std::end(KnownModels);
}

void ProductInfo::set(uint8_t productKind, uint32_t modelCode, const char* modelName, const char* version) {
    _productKind = productKind;
    _modelCode = modelCode;
    WireText::assign(_modelName, TextSize, modelName);
    WireText::assign(_version, TextSize, version);
}

void ProductInfo::readFrom(ByteBuffer& buffer) {
    uint8_t kind = buffer.get();
    _productKind = kind >= 1 && kind <= 5 ? kind : 0;
    uint32_t model = buffer.getInt();
    _modelCode = isKnownModel(model) ? model : 0;
    buffer.getString(_modelName, TextSize);
    buffer.getString(_version, TextSize);
}

void ProductInfo::writeTo(ByteBuffer& buffer) const {
    buffer.put(_productKind);
    buffer.putInt(_modelCode);
    buffer.putString(_modelName);
    buffer.putString(_version);
}

int ProductInfo::length() const {
    return 5 + WireText::wireLength(_modelName) + WireText::wireLength(_version);
}
