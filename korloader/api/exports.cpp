// The nine exported functions: thin forwarders to the frame cache, the
// import plug-ins and the channel mappings.
#include "api/frame_cache.h"
#include "import/default_mappings.h"
#include "import/importers.h"
#include "korloader/korloader.h"

namespace {
constexpr unsigned int kVersion = 0x30400;  // 3.04.00, one byte each
constexpr int kBothModules = 3;
}  // namespace

KORLOADER_API unsigned int OstrelSDKGetVersionNumber() { return kVersion; }

KORLOADER_API IKor* newIKor(const char* path) {
    // Without memory for the default mapping the open fails like any other
    // out-of-memory load.
    ZUtils::String mapping;
    if (!GenerateDefaultMappings(path, mapping)) return nullptr;
    return newIKorWithChannelsMapping(path, mapping.c_str());
}

KORLOADER_API IKor* newIKorWithChannelsMapping(const char* path, const char* mapping) {
    return OstrelFrame::OpenFrame(path, mapping);
}

KORLOADER_API void deleteIKor(IKor* frame) { OstrelFrame::ReleaseFrame(frame); }

KORLOADER_API int initalizeKoraLoader(const char* directories, const char* suffix, int axisMode) {
    return LoadImportPlugins(kBothModules, directories, suffix, axisMode);
}

KORLOADER_API int korGet3rdPartyChannelName(char* out, int outLen, int* flag, const char* path, int index) {
    return Get3rdPartyChannelNameInto(out, outLen, flag, path, index);
}

KORLOADER_API int korComposeChannelMappingsString(char* out, int outLen, int* ids, const char* const* names, int count) {
    return ComposeChannelMappingsInto(out, outLen, ids, names, count);
}

KORLOADER_API int korDecomposeChannelMappingsString(int* id, char* nameOut, int nameLen, const char* mapping, int index) {
    return DecomposeChannelMappingsAt(id, nameOut, nameLen, mapping, index);
}

KORLOADER_API int korGenerateDefaultChannelMappings(char* out, int outLen, const char* path) {
    return GenerateDefaultChannelMappingsInto(out, outLen, path);
}
