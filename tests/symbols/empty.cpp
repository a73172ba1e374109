// Deliberately empty: the reference library for the load-time code check.
