#pragma once

#define IDS_PROJNAME 100
