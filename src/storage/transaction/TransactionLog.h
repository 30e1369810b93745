#pragma once

#include <cstdint>
#include <memory>

#include "base/ISerializable.h"
#include "base/IStringConvertable.h"

class Buffer;
class IJournaledStorage;

// One journal record: a step of a multi-page change that can tell, by looking at the
// disk, whether its effect is already there, carry it out, and undo it. A record is
// written into the journal before any step of its change is carried out, so after a
// crash the journal says which change was under way. Used on the storage's writing
// thread only.
class TransactionLog : public IStringConvertable, public ISerializable {
public:
    TransactionLog(IJournaledStorage& storage, uint16_t type) : _storage(storage), _type(type) {}
    ~TransactionLog() override = default;
    TransactionLog(const TransactionLog&) = delete;
    TransactionLog& operator=(const TransactionLog&) = delete;

    uint16_t type() const { return _type; }

    virtual int payloadSize() const = 0;
    virtual void readPayload(Buffer& buffer, int position) = 0;
    // At the buffer's cursor, advancing it.
    virtual void writePayload(Buffer& buffer) const = 0;
    // Never throws for a page that cannot be read: the answer is then false.
    virtual bool isApplied() = 0;
    // Carries the effect out. Durability is the handler's: it puts a barrier behind.
    virtual void apply() = 0;
    virtual void rollback() = 0;

    int serializedSize() const override { return payloadSize() + 2; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

    // The record at `position`, or null when its type is unknown or it does not end
    // before `limit` (the end of the journal page): decoding stops there.
    static std::unique_ptr<TransactionLog> read(IJournaledStorage& storage, Buffer& buffer, int position,
                                                int limit);

protected:
    IJournaledStorage& storage() const { return _storage; }

private:
    IJournaledStorage& _storage;
    uint16_t _type;
};
