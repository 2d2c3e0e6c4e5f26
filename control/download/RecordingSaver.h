#pragma once

#include <string>

#include "control/download/DiskOps.h"
#include "control/download/HttpThreadParams.h"

namespace picvox {

// Makes the run folder "<destination>/<model><nnnnn>" with the number after the highest one
// already there; the destination is created level by level when missing. A run writes only into
// a folder it made itself: when the name appears meanwhile (another control saving into the same
// destination), the next number is taken. `destination` receives the run folder. None on
// success, DiskFull, or Error (numbers used up included).
SaveResult CreateSaveRunFolder(std::string& destination, int& runNumber, const std::string& model,
                               DiskOps& disk = RealDisk());

// "<run folder>/IMG<nnnnn>" into `path`, created unless it exists. None, DiskFull or Error.
SaveResult CreateImageFolder(std::string& path, HttpThreadParams& params, int number);

// Copies one frame into `frameFolder` as the next numbered file. The source is `sourcePath` when
// `direct` is set, else the cached picture of `pictureSlot` (which then moves on to the next
// slot). A frame whose check gives it no capture time is skipped without using a number. 1
// continue, 0 stop (params.progress.result then tells disk full or disk error). Nothing happens
// with `proceed` 0.
int SaveFrame(HttpThreadParams& params, int proceed, const std::string& frameFolder, bool direct,
              int& savedCount, int& pictureSlot, const std::string& sourcePath);

// "<run folder>/INFO/<model><nnnnn>.INF" into `path`, the INFO folder created when missing.
// 1 success, 0 when the folder cannot be made (params.result tells why).
int MakeInfName(std::string& path, HttpThreadParams& params);

// Removes the run folder when it is empty, or when it holds nothing but an empty IMG00001. Only
// empty folders go: what was saved stays.
void CheckEmpFolder(const std::string& runFolder);

}  // namespace picvox
