// Placeholder of the particle bounding-box job set.
#pragma once
#include "jobs/mt_jobs.h"

class MTComputeParticlesBbox : public MTJobs {};
