#include "qvbackup/qvprofile.h"

QV_ARCHIVE_PROFILE_BACKUP::QV_ARCHIVE_PROFILE_BACKUP()
    : straHostData1(0), straHostData2(0), straHostData3(0), straHostData4(0) {}
