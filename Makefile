# Thin wrapper over CMake: `make run` and `make test` are all a newcomer needs.
BUILD ?= build
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the test servers need. Node.js and npm (for
# the ssh2 test server) are taken from Debian only when the machine has no npm of its own.
PACKAGES = cmake ninja-build g++ pkg-config libssl-dev zlib1g-dev libgtest-dev libgmock-dev \
	libbenchmark-dev tmux socat openssh-server inetutils-telnetd inetutils-telnet \
	python3 python3-cryptography ncurses-term clang libclang-rt-14-dev libvterm-dev \
	sshpass util-linux procps

.PHONY: all deps build test run install clean

all: build

# Installs only what is missing; needs root for apt-get (CI runs as root).
deps:
	@missing=$$(for p in $(PACKAGES) $$(command -v npm >/dev/null || echo nodejs npm); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

# Configuring every time is cheap and picks up source folders added since the
# build tree was made.
build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The program, its data files and the manual page under PREFIX (bin/,
# share/quenlor/, share/man/man1/). The program finds its data as
# ../share/quenlor from its own folder, so any prefix works.
PREFIX ?= /usr/local
install: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target quenlor
	cmake --install $(BUILD) --prefix $(PREFIX)

run: build
	$(BUILD)/quenlor $(ARGS)

clean:
	rm -rf $(BUILD)
