// Hosts compile the public header with old compilers: this file is built as
// C++11 with pedantic warnings (errors with KOR_WERROR), and must stay clean.
#include <korloader/korloader.h>

namespace {
// The interfaces are abstract and have no virtual destructor.
class HostSideGroup : public IOstrelPrtGroup {
public:
    const char* GetName() { return "g"; }
    int GetNumParticles() { return 0; }
    int GetParticleChannel(int, int, void*) { return 0; }
    int HasChannel(int) { return 0; }
    int GetChannelSize(int) { return 0; }
    int FindParticleByID(long long) { return -1; }
    int GetChannelType(int) { return 0; }
    int GetChannelComponents(int) { return 0; }
};
}  // namespace

int KorHeaderCompilesAsCxx11() {
    HostSideGroup group;
    IOstrelPrtGroup* base = &group;
    return base->GetNumParticles() + static_cast<int>(sizeof(IKor*));
}
