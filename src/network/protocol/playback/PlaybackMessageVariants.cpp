#include "network/protocol/playback/PlaybackMessageVariants.h"

namespace {

// The alternative of `Variant` whose packet type matches, parsed; empty when none does.
template <typename Variant, size_t Index = 0>
std::optional<Variant> readAlternative(Packet& packet, uint16_t type) {
    if constexpr (Index == std::variant_size_v<Variant>) {
        return std::nullopt;
    } else {
        using Message = std::variant_alternative_t<Index, Variant>;
        if (Message::Type != type) return readAlternative<Variant, Index + 1>(packet, type);
        Message message;
        readPlaybackMessage(packet, message);
        return Variant(std::move(message));
    }
}

// Each packet type names at most one message per direction.
template <typename Variant, size_t Index = 0>
constexpr bool typesAreDistinct() {
    if constexpr (Index == std::variant_size_v<Variant>) {
        return true;
    } else {
        bool distinct = true;
        [&]<size_t... Others>(std::index_sequence<Others...>) {
            ((distinct = distinct && (Others == Index || std::variant_alternative_t<Others, Variant>::Type !=
                                                            std::variant_alternative_t<Index, Variant>::Type)),
             ...);
        }(std::make_index_sequence<std::variant_size_v<Variant>>{});
        return distinct && typesAreDistinct<Variant, Index + 1>();
    }
}
static_assert(typesAreDistinct<PlaybackRequestMessage>());
static_assert(typesAreDistinct<PlaybackResponseMessage>());

}  // namespace

std::optional<PlaybackRequestMessage> readPlaybackRequest(Packet& packet) {
    return readAlternative<PlaybackRequestMessage>(packet, packet.type());
}

std::optional<PlaybackResponseMessage> readPlaybackResponse(Packet& packet) {
    return readAlternative<PlaybackResponseMessage>(packet, packet.type());
}
