// The subcommands. Each takes the whole argv and the index of its first own
// argument, returns an exit code or throws kc::Failure.
#pragma once

namespace kc {

int cmd_sha256(int argc, char **argv, int first);
int cmd_hmac(int argc, char **argv, int first);
int cmd_base64(int argc, char **argv, int first);
int cmd_base64url(int argc, char **argv, int first);
int cmd_uuid(int argc, char **argv, int first);
int cmd_password(int argc, char **argv, int first);
int cmd_jwt(int argc, char **argv, int first);

}  // namespace kc
