#include "report/board_names.h"

namespace pelmark {

// Board codes as the bootloader reports them, with the connector each board
// carries. Rows 26 to 31 are not assigned; board 32 is the second build of
// board 16 and takes the same image.
//
//  code  name          connector     code  name          connector
//   0    UNK           UNK            17   PM16-CTL2     16PIN
//   1    UNK           UNK            18   PM16-CTL3     16PIN
//   2    PM14-BASE     14PIN          19   PM16-DRV      16PIN
//   3    PM16-A1       16PIN          20   PMRJ-NET      RJ45
//   4    PM16-A2       16PIN          21   PM6-MINI      6PIN
//   5    PM16-CAN      16PIN          22   PM16-E1       16PIN
//   6    PM16-RES      16PIN          23   PM16-E2       16PIN
//   7    PM16-SRV      16PIN          24   PM16-E3       16PIN
//   8    PM16-MXP      16PIN          25   PM14-LITE     14PIN
//   9    PM16-LUX      16PIN          26   27            16PIN
//  10    PM16-ETH      16PIN          27   28            16PIN
//  11    PM16-CDC      16PIN          28   29            16PIN
//  12    PM16-2RES     16PIN          29   30            16PIN
//  13    PM16-B1       16PIN          30   31            16PIN
//  14    PMD9-SER      DB9            31   32            16PIN
//  15    PM16-B2       16PIN          32   PM16-CTL1R    16PIN
//  16    PM16-CTL1     16PIN
const char* const kBoardNames[kBoardNameRows] = {
    "UNK",       "UNK",      "PM14-BASE", "PM16-A1",   "PM16-A2",   "PM16-CAN",   "PM16-RES",
    "PM16-SRV",  "PM16-MXP", "PM16-LUX",  "PM16-ETH",  "PM16-CDC",  "PM16-2RES",  "PM16-B1",
    "PMD9-SER",  "PM16-B2",  "PM16-CTL1", "PM16-CTL2", "PM16-CTL3", "PM16-DRV",   "PMRJ-NET",
    "PM6-MINI",  "PM16-E1",  "PM16-E2",   "PM16-E3",   "PM14-LITE", "27",         "28",
    "29",        "30",       "31",        "32",        "PM16-CTL1R",
};

const char* const kConnectors[kBoardNameRows] = {
    "UNK",   "UNK",   "14PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "DB9",   "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "RJ45",  "6PIN",  "16PIN", "16PIN", "16PIN", "14PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
};

// Interface fitted, by preparation code with bits 4 and 7 cleared.
const char* const kInterfaces[kInterfaceRows] = {
    "UNK", "CAN+SPI", "", "RES", "CAN", "SRV", "2RES", "CDC", "MXP/CDC", "LUX/NOK.", "ETH0",
};

const char* BoardName(int index) {
    if (index > 0 && index < kBoardNameRows) return kBoardNames[index];
    return kBoardNames[2];
}

}  // namespace pelmark
