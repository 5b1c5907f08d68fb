#pragma once
// The options of a service, each declared once, here: its field (in the request, a job and
// a copy's order alike, through ServiceSettings), its key in a job file, its flag on the
// command line and in a copy's arguments, its help, and a number's range. The job file's
// reader and writer, the request made from a job and the job made from a request, the copy's
// arguments and the command line's flags are all made from these tables: a new option is a
// field and a row.
#include <string>

// The settings every form of a service shares.
struct ServiceSettings {
    bool runAfter = false, forceProduct = false, allowDowngrade = false, verify = false;
    bool trace = false;
    bool labels = false, repeatLabels = false;
    int attempts = 1;   // a device or line failure is tried again up to this many times in all
    int count = 0;      // watching: end after this many (0: until stopped)
    int quantity = 0;   // the batch's target of instruments passed; 0: none
    std::string route;  // to a routed instrument behind each
    std::string batch;  // the batch's work order
    std::string operatorName;  // who runs it
};

// Where an option belongs on the command line: beside every command, or the upload's.
enum class OptionPlace { Common, Upload };

struct SwitchOption {
    bool ServiceSettings::*field;
    const char* jobKey;  // nullptr: not kept in a job
    const char* flag;
    OptionPlace place;
    bool toCopy;  // a copy of the station does it, and is given the flag
    const char* help;
};

struct NumberOption {
    int ServiceSettings::*field;
    const char* jobKey;  // nullptr: not kept in a job; "batch.quantity": within "batch"
    const char* flag;
    int least, most;  // given on the command line or in a job; a job may also hold `none`
    int none;         // the default, "not set"
    const char* help;
};

struct TextOption {
    std::string ServiceSettings::*field;
    const char* jobKey;  // nullptr: not kept in a job; "batch.workOrder": within "batch"
    const char* flag;
    bool toCopy;
    const char* help;
};

extern const SwitchOption kSwitchOptions[7];
extern const NumberOption kNumberOptions[3];
extern const TextOption kTextOptions[3];

// Calls `visit` with every option of the three tables (a generic lambda: each has its
// field, jobKey and flag).
template <class Visit>
void forEachOption(Visit visit) {
    for (const SwitchOption& option : kSwitchOptions) {
        visit(option);
    }
    for (const NumberOption& option : kNumberOptions) {
        visit(option);
    }
    for (const TextOption& option : kTextOptions) {
        visit(option);
    }
}

// A number's range in words, for a refusal: "a whole number from 1 to 99".
std::string rangeText(const NumberOption& option);
