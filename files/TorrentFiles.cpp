#include "files/TorrentFiles.h"
