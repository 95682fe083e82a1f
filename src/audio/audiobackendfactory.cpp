#include "audiobackend.h"
#include "fakeaudiobackend.h"
#include "portaudiobackend.h"

#include <QString>

std::unique_ptr<AudioBackend> makeAudioBackend()
{
    if (qEnvironmentVariable("TAVRIN_AUDIO") == QLatin1String("fake"))
        return std::make_unique<FakeAudioBackend>();
    return std::make_unique<PortAudioBackend>();
}
