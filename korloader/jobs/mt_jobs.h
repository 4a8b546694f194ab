// Placeholder of the job framework; replaced by the full framework.
#pragma once
class MTJobs {
public:
    virtual ~MTJobs() = default;
};
