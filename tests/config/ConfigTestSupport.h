// Helpers of the configuration tests: the logger captured into a file, the model as flat rows.
#pragma once

#include "daemon/config/ConfigModel.h"
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

// Sends theLogger's lines to a file of its own for the life of the object.
class LogCapture {
public:
    LogCapture() {
        m_path = m_dir.file("capture.log");
        m_file = CreateFileA(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        theLogger.attach(m_file);
    }
    ~LogCapture() {
        theLogger.close();
        if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Each line as its two-character tag ("WW", "EE", " 5"...), a blank and its text.
    std::vector<std::string> lines() const {
        std::vector<std::string> tagged;
        for (const std::string& line : SplitLines(ReadFileText(m_path)))
            tagged.push_back(line.size() >= 18 ? line.substr(0, 2) + " " + line.substr(18) : "torn: " + line);
        return tagged;
    }

private:
    TempDir m_dir;
    std::string m_path;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

// The model as rows "place|market|credit class|underlying|group|extension|key type", in iteration order.
inline std::vector<std::string> ModelRows(const PilotingConfiguration& config) {
    std::vector<std::string> rows;
    for (const auto& [placeMarket, creditClasses] : config.placeMarkets)
        for (const auto& [creditClass, underlyings] : creditClasses)
            for (const auto& [underlying, groups] : underlyings)
                for (const auto& [group, key] : groups) {
                    std::string row = std::to_string(placeMarket.place);
                    row += "|" + std::to_string(placeMarket.market);
                    for (const std::string* part : {&creditClass, &underlying, &group, &key.extension, &key.keyType})
                        row += "|" + *part;
                    rows.push_back(row);
                }
    return rows;
}

// The 27 lines the worked example's dump writes.
inline std::vector<std::string> WorkedExampleDump() {
    std::vector<std::string> lines = {
        " 5 Dumping the extension read from qxpilot.dat file\n",
        " 5 Place [25] market [-1]",
        "WW No management of default Credit Class for Place 25, : some of the instruments may not be piloted as "
        "it should be",
        " 5 \tCredit Class [BOND]",
        " 5 \t\tUnderlying [DEFAULT]",
        " 5 \t\t\tGroup [DEFAULT]",
        " 5 \t\t\t\tExtension []",
        " 5 \t\t\t\tSymbol [ISIN_CURRENCY]",
    };
    for (const char* market : {"1", "2"}) {
        lines.push_back(std::string(" 5 Place [25] market [") + market + "]");
        for (const char* line : {" 5 \tCredit Class [DEFAULT]", " 5 \t\tUnderlying [DEFAULT]", " 5 \t\t\tGroup [DEFAULT]",
                                 " 5 \t\t\t\tExtension [.X1]", " 5 \t\t\t\tSymbol [ISIN]", " 5 \t\t\tGroup [G1]",
                                 " 5 \t\t\t\tExtension [.X1]", " 5 \t\t\t\tSymbol [ISIN]"})
            lines.push_back(line);
    }
    lines.push_back(" 5 End Dumping\n");
    return lines;
}

inline const char* const kWorkedExampleFile =
    "[Extension_A]\r\nPlace=25\r\nMarket=1,2\r\nQXExtension=.X1\r\nQXSymbol=isin\r\nGroup=G1,default\r\n"
    "[Extension_B]\r\nplace=25\r\nQXSymbol=ISIN_CURRENCY\r\nCreditClass=BOND\r\n"
    "[-Extension_C]\r\nPlace=30\r\nQXSymbol=SYMBOL\r\n"
    "[General]\r\nPlace=40\r\n";

}  // namespace qxtest
