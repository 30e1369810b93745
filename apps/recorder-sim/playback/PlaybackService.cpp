#include "PlaybackService.h"

#include "PlaybackHandler.h"

PlaybackService::PlaybackService(PlaybackServiceConfig config)
    : _config(std::move(config)), _recording(std::make_shared<SyntheticRecording>(_config.recording)) {}

RecorderSim::HandlerFactory PlaybackService::factory() {
    return [this](RecorderConnection&) -> std::unique_ptr<IRecorderPacketHandler> {
        return std::make_unique<PlaybackHandler>(*this);
    };
}
