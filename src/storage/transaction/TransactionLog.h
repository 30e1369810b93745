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
    // Apply in two halves, for a handler that carries several records out with no order
    // among their writes: the change, then its write-back, which finds nothing left to
    // write when another record's write-back already wrote the same page. By default the
    // whole apply is the change.
    virtual void applyInMemory() { apply(); }
    virtual void writeBack() {}
    virtual void rollback() = 0;
    // The page whose header the record holds (0: none). Replay compares that header with
    // the page on disk, so the page must not be written outside a transaction while a
    // journal holding the record may still be replayed.
    virtual uint32_t recordedHeaderPage() const { return 0; }
    // This record moves on from where `earlier`, a record before it in the same journal,
    // left the disk: when this one is on disk, `earlier`'s effect was there before it.
    virtual bool supersedes(const TransactionLog& earlier) const {
        (void)earlier;
        return false;
    }

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
