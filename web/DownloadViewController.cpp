#include "web/DownloadViewController.h"
