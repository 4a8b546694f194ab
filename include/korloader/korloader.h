/**
 * @file korloader.h
 * @brief Public interface of the korloader library for host applications.
 *
 * The library reads ".kor" fluid cache frames (and, through import plug-in
 * modules, OpenVDB and Field3D frames) and serves them through two abstract
 * interfaces, IKor (a frame) and IOstrelPrtGroup (a particle group).
 *
 * Ownership: the library owns every object it hands out. A frame obtained
 * from newIKor() or newIKorWithChannelsMapping() is given back with
 * deleteIKor(), never deleted by the host. Pointers returned by a frame or a
 * group stay valid until that frame is destroyed.
 *
 * Threads: the factories, deleteIKor() and initalizeKoraLoader() must be
 * called from one thread at a time. A frame and its groups may be read from
 * any number of threads at once.
 *
 * This header is self-contained and C++11 compatible.
 */
#ifndef KORLOADER_KORLOADER_H
#define KORLOADER_KORLOADER_H

#if defined(_WIN32)
#  if defined(KORLOADER_BUILDING_LIBRARY)
#    define KORLOADER_API
#  else
#    define KORLOADER_API __declspec(dllimport)
#  endif
#else
#  define KORLOADER_API __attribute__((visibility("default")))
#endif

/**
 * @brief Grid channel ids, for IKor::GetChannel() and IKor::HasChannel().
 *
 * The ids are stored in cache files and never change. Ids without a name
 * here (0, 11 to 13, 22 to 30) are carried like any other channel.
 */
enum KorGridChannel {
    KOR_GRID_TEMPERATURE = 1,    /**< temperature, or liquid in liquid simulations */
    KOR_GRID_SMOKE = 2,          /**< smoke density */
    KOR_GRID_SPEED = 3,          /**< stored, or the length of velocity when all three components are there */
    KOR_GRID_VELOCITY_X = 4,
    KOR_GRID_VELOCITY_Y = 5,
    KOR_GRID_VELOCITY_Z = 6,
    KOR_GRID_COLOUR_R = 7,       /**< stored, or made from KOR_GRID_PACKED_COLOUR (0..1) */
    KOR_GRID_COLOUR_G = 8,
    KOR_GRID_COLOUR_B = 9,
    KOR_GRID_FUEL = 10,
    KOR_GRID_WAVELET = 14,
    KOR_GRID_ORIGIN_X = 15,      /**< advection origin */
    KOR_GRID_ORIGIN_Y = 16,
    KOR_GRID_ORIGIN_Z = 17,
    KOR_GRID_PACKED_COLOUR = 18, /**< 4 bytes per cell in the file; never handed out, see 7 to 9 */
    KOR_GRID_TEXCOORD_U = 19,    /**< texture coordinates */
    KOR_GRID_TEXCOORD_V = 20,
    KOR_GRID_TEXCOORD_W = 21,
    KOR_GRID_LAST_CHANNEL = 30,  /**< bit 31 of a frame's channel mask is not a channel */
    KOR_GRID_CHANNEL_COUNT = 32  /**< ids are 0..31 */
};

/**
 * @brief Particle channel ids, for the IOstrelPrtGroup operations.
 *
 * The ids are stored in cache files and never change. Other ids up to 31
 * are carried under their number.
 */
enum KorParticleChannel {
    KOR_PARTICLE_POSITION = 0, /**< 3 floats, in grid cell coordinates */
    KOR_PARTICLE_VELOCITY = 1, /**< 3 floats; may be sampled from the grid velocity */
    KOR_PARTICLE_SIZE = 2,     /**< 1 float */
    KOR_PARTICLE_AGE = 3,      /**< 1 float */
    KOR_PARTICLE_COLOUR = 4,   /**< 3 floats */
    KOR_PARTICLE_ID = 10,      /**< 1 signed 64-bit integer; see IOstrelPrtGroup::FindParticleByID() */
    KOR_PARTICLE_CHANNEL_COUNT = 32
};

/** @brief Type codes of particle channels (IOstrelPrtGroup::GetChannelType()). */
enum KorParticleType {
    KOR_TYPE_NONE = 0,    /**< no layout: raw 32-bit words */
    KOR_TYPE_UINT32 = 6,  /**< unsigned 32-bit integers */
    KOR_TYPE_INT64 = 7,   /**< signed 64-bit integers */
    KOR_TYPE_FLOAT = 10   /**< 32-bit floats */
};

/**
 * @brief Name of a grid channel id ("smoke", "velocity.x", ...), or "" for an
 * id without a name. Never null.
 */
inline const char* korGridChannelName(int channel) {
    static const char* const kNames[KOR_GRID_CHANNEL_COUNT] = {
        "",         "temperature", "smoke", "speed",         "velocity.x", "velocity.y", "velocity.z", "colour.r",
        "colour.g", "colour.b",    "fuel",  "",              "",           "",           "wavelet",    "origin.x",
        "origin.y", "origin.z",    "packed_colour", "texcoord.u", "texcoord.v", "texcoord.w", "",    "",
        "",         "",            "",      "",              "",           "",           "",           ""};
    return channel >= 0 && channel < KOR_GRID_CHANNEL_COUNT ? kNames[channel] : "";
}

/**
 * @brief Name of a particle channel id ("position", "id", ...), or "" for an
 * id without a name. Never null.
 */
inline const char* korParticleChannelName(int channel) {
    switch (channel) {
        case KOR_PARTICLE_POSITION: return "position";
        case KOR_PARTICLE_VELOCITY: return "velocity";
        case KOR_PARTICLE_SIZE: return "size";
        case KOR_PARTICLE_AGE: return "age";
        case KOR_PARTICLE_COLOUR: return "colour";
        case KOR_PARTICLE_ID: return "id";
        default: return "";
    }
}

/**
 * @brief One particle group of a frame. Slot order is part of the ABI.
 *
 * There is deliberately no virtual destructor: hosts never delete a group.
 */
class IOstrelPrtGroup {
public:
    /** @brief The group's name; owned by the group. */
    virtual const char* GetName() = 0;
    /** @brief Number of particles, or 0 when the group has no positions. */
    virtual int GetNumParticles() = 0;
    /**
     * @brief Copies the element of particle @p index of @p channel into @p out
     * (GetChannelSize() bytes). Returns 1 on success, 0 on failure.
     * @p index is not checked: keep it below GetNumParticles().
     */
    virtual int GetParticleChannel(int index, int channel, void* out) = 0;
    /** @brief 1 if the channel can be read, else 0. */
    virtual int HasChannel(int channel) = 0;
    /** @brief Bytes per element of the channel. */
    virtual int GetChannelSize(int channel) = 0;
    /** @brief Index of the particle with this 64-bit ID, or -1. */
    virtual int FindParticleByID(long long id) = 0;
    /** @brief Type code (KorParticleType): 10 float, 7 signed 64-bit, 6 unsigned 32-bit, 0 none. */
    virtual int GetChannelType(int channel) = 0;
    /** @brief Components per element. */
    virtual int GetChannelComponents(int channel) = 0;
};

/**
 * @brief One loaded frame. Slot order is part of the ABI.
 *
 * There is deliberately no virtual destructor: give frames back with deleteIKor().
 */
class IKor {
public:
    /**
     * @brief Decoded values of grid channel @p channel (0..31, KorGridChannel): one float per
     * cell, cell (i,j,k) at i + nx*j + nx*ny*k. Decoded on first request.
     * Returns null when the channel is absent or cannot be decoded.
     */
    virtual float* GetChannel(int channel) = 0;
    /** @brief 1 if GetChannel() can produce the channel, else 0. */
    virtual int HasChannel(int channel) = 0;
    /** @brief Writes the grid dimensions nx, ny, nz into @p dims[0..2]. */
    virtual void GetGridDim(int* dims) = 0;
    /** @brief Copies the 12-float grid transform (axes a, b, c, then offset). */
    virtual void GetTransform(float* transform) = 0;
    /** @brief Number of particle groups that hold positions. */
    virtual int GetNumParticleGroups() = 0;
    /** @brief The index-th group holding positions, or null. */
    virtual IOstrelPrtGroup* GetParticleGroup(int index) = 0;
    /** @brief The first group with exactly this name (with or without positions), or null. */
    virtual IOstrelPrtGroup* GetParticleGroupByName(const char* name) = 0;
};

/** @brief Library version, 0x30400 (3.04.00). */
KORLOADER_API unsigned int OstrelSDKGetVersionNumber();

/**
 * @brief Opens a cache frame with its default channel mapping.
 * @return the shared frame, or null on failure (the reason is logged).
 */
KORLOADER_API IKor* newIKor(const char* path);

/**
 * @brief Opens a cache frame with an explicit channel mapping string
 * ("%d,%s;" per entry). A null mapping means the empty string.
 * Opening the same (path, mapping) twice returns the same frame.
 */
KORLOADER_API IKor* newIKorWithChannelsMapping(const char* path, const char* mapping);

/** @brief Gives one reference back. Null and unknown pointers are ignored. */
KORLOADER_API void deleteIKor(IKor* frame);

/**
 * @brief Loads the OpenVDB and Field3D import modules.
 * @param directories ';'-separated search directories, or null.
 * @param suffix module name suffix (vdbplug_<suffix>), or null.
 * @param axisMode axis turn applied to imported frames (1 OpenVDB, 2 Field3D).
 * @return bit 0: Field3D module ready; bit 1: OpenVDB module ready.
 */
KORLOADER_API int initalizeKoraLoader(const char* directories, const char* suffix, int axisMode);

/**
 * @brief Name of grid @p index of an OpenVDB/Field3D cache (or sequence template).
 * @return -1 no such grid; 1 the name fitted into @p out; 0 it was cut.
 */
KORLOADER_API int korGet3rdPartyChannelName(char* out, int outLen, int* flag, const char* path, int index);

/** @brief Builds a mapping string from pairs. @return 1 fitted, 0 cut. */
KORLOADER_API int korComposeChannelMappingsString(char* out, int outLen, int* ids, const char* const* names, int count);

/** @brief Reads entry @p index of a mapping string. @return -1 none, 1 fitted, 0 cut. */
KORLOADER_API int korDecomposeChannelMappingsString(int* id, char* nameOut, int nameLen, const char* mapping, int index);

/** @brief Default mapping string for a cache path. @return 1 fitted, 0 cut. */
KORLOADER_API int korGenerateDefaultChannelMappings(char* out, int outLen, const char* path);

#endif /* KORLOADER_KORLOADER_H */
