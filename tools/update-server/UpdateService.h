// Answers the update-server queries (GET /cgi/u?op=...) from a catalogue:
//   op=hi                          "ok"
//   op=qu&sn=SERIAL                "ok", latest build, firmware identifier
//   op=builds&sn=SERIAL            "ok", one "build;version" line per build
//   op=bird&sn=SERIAL&bld=N&fw=..  "ok", the BIRD file in Base64
//   op=sig&sn=SERIAL&bld=N&fw=..   "ok", the build's N.bird.minisig in Base64
//                                  (404 when the build has none)
//   op=fix&fp=W1%20W2%20W3%20W4    "ok", serial number, build
// Anything else gets a 4xx status with a one-line "error: ..." text; a catalogue error
// met on the way (see Catalogue.h) a 500 with "error: catalogue: ...".
#ifndef UPDATESERVER_UPDATESERVICE_H
#define UPDATESERVER_UPDATESERVICE_H

#include <string>

#include "Catalogue.h"

struct ServiceAnswer {
    int status;
    std::string body;
};

class UpdateService {
  public:
    static constexpr const char* path = "/cgi/u";

    explicit UpdateService(const Catalogue& catalogue) : catalogue_(catalogue) {}

    // target: the request's path and raw (undecoded) query.
    ServiceAnswer answer(const std::string& target) const;

  private:
    ServiceAnswer answerQuery(const std::string& target) const;

    const Catalogue& catalogue_;
};

#endif
