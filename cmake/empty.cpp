// Keeps a library target valid while its directory has no sources yet.
