# A real Linux kernel for the tests: Debian's standard kernel under QEMU's software emulation,
# booted straight into an initramfs the project builds. Sourced by scripts/vm-test and
# scripts/run after lib.sh. Nothing here is installed on the machine: the kernel package is
# unpacked into build/vm/kernel and kept there.
vm_dir="$root/build/vm"
vm_kernel_dir="$vm_dir/kernel"
# The modules the guest loads, in load order (hid-generic and uhid need hid).
vm_modules=(hid hid-generic uhid evdev uinput)

# Fetches and unpacks the kernel once, and takes the uncompressed vmlinux out of its bzImage:
# under TCG the compressed kernel spends seconds decompressing itself, and QEMU boots an ELF
# vmlinux directly. Sets vm_vmlinux and vm_module_files; on a machine that cannot do this, sets
# vm_unavailable to the one-line reason and fails.
prepare_vm_kernel() {
  vm_unavailable=""
  if ! command -v qemu-system-x86_64 >/dev/null 2>&1; then
    vm_unavailable="qemu-system-x86_64 is not installed"
    return 1
  fi
  mkdir -p "$vm_kernel_dir"
  if [ ! -s "$vm_kernel_dir/vmlinux" ] || [ ! -d "$vm_kernel_dir/root/lib/modules" ]; then
    local package attempt deb offset
    # The version Debian's linux-image-amd64 stands for at the moment.
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
      sed -nE 's/^ *Depends: (linux-image-[0-9][^ ]*-amd64)$/\1/p' | head -1)
    if [ -z "$package" ]; then
      vm_unavailable="apt knows no linux-image-amd64 (no package lists?)"
      return 1
    fi
    rm -rf "$vm_kernel_dir"/*
    # Mirrors glitch now and then: a few tries.
    for attempt in 1 2 3; do
      (cd "$vm_kernel_dir" && apt-get download -q "$package" >/dev/null 2>&1) && break
      sleep $((attempt * 3))
    done
    deb=$(ls "$vm_kernel_dir"/linux-image-*.deb 2>/dev/null | head -1)
    if [ -z "$deb" ]; then
      vm_unavailable="the kernel package $package could not be fetched"
      return 1
    fi
    dpkg-deb -x "$deb" "$vm_kernel_dir/root"
    rm -f "$deb"
    # The xz stream inside the bzImage starts at its magic bytes; what follows it is not xz.
    local bzimage
    bzimage=$(ls "$vm_kernel_dir"/root/boot/vmlinuz-* | head -1)
    offset=$(LC_ALL=C grep -obUaP -m1 '\xfd7zXZ\x00' "$bzimage" | head -1 | cut -d: -f1) || true
    # Through a file, not a pipe: xz stops reading at the end of its stream, and the writer's
    # SIGPIPE would then fail the pipeline now and then.
    if [ -z "$offset" ] ||
      ! tail -c +$((offset + 1)) "$bzimage" >"$vm_kernel_dir/payload" ||
      ! xz -dc --single-stream <"$vm_kernel_dir/payload" >"$vm_kernel_dir/vmlinux.part"; then
      rm -f "$vm_kernel_dir/payload"
      vm_unavailable="no xz-compressed vmlinux found in $bzimage"
      return 1
    fi
    rm -f "$vm_kernel_dir/payload"
    mv "$vm_kernel_dir/vmlinux.part" "$vm_kernel_dir/vmlinux"
  fi
  vm_vmlinux="$vm_kernel_dir/vmlinux"
  vm_module_files=()
  local module file
  for module in "${vm_modules[@]}"; do
    file=$(find "$vm_kernel_dir/root/lib/modules" -name "$module.ko" | head -1)
    if [ -z "$file" ]; then
      vm_unavailable="the kernel package has no $module.ko"
      return 1
    fi
    vm_module_files+=("$file")
  done
}

# build_initramfs OUT INIT PROGRAM...: a newc cpio of busybox, the modules, the programs (in
# /bin, with the shared libraries that the dynamically linked ones need, at the paths ldd names;
# a PROGRAM that is a library goes to its own path, with its libraries) and INIT as /init.
build_initramfs() {
  local out="$1" init="$2"
  shift 2
  local staging="$out.d" program library
  rm -rf "$staging"
  mkdir -p "$staging"/{bin,lib/modules,proc,sys,dev,tmp}
  cp /bin/busybox "$staging/bin/busybox"
  cp "${vm_module_files[@]}" "$staging/lib/modules/"
  for program in "$@"; do
    if [[ "$program" == *.so* ]]; then
      # A library a program opens by itself (dlopen), which ldd cannot see: at its own path.
      mkdir -p "$staging$(dirname "$program")"
      cp -L "$program" "$staging$program"
    else
      cp "$program" "$staging/bin/"
    fi
    # Static programs have no libraries ("not a dynamic executable").
    for library in $(ldd "$program" 2>/dev/null | grep -oE '/[^ ]+\.so[^ ]*' || true); do
      mkdir -p "$staging$(dirname "$library")"
      cp -L "$library" "$staging$library"
    done
  done
  cp "$init" "$staging/init"
  chmod +x "$staging/init"
  (cd "$staging" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$out"
}

# boot_vm INITRAMFS LOG SCENARIOS: one VM running the comma-separated scenarios of its /init, its
# console (with the carriage returns taken out) in LOG, under a time-out. The guest gives its
# verdict through QEMU's isa-debug-exit port: byte v makes QEMU exit with v * 2 + 1, so 16 is 33
# (pass) and 17 is 35 (fail). 0 and 1 are never a pass: QEMU's own start-up failures exit 1.
# Returns 0 for a pass and sets vm_verdict to one line. The machine is QEMU's pc, not microvm,
# which can hang silently when a busy host upsets its timer calibration; one vCPU, which emulates
# faster than two.
# The scenarios take 60 to 90 s under emulation on a busy machine (the idle one alone waits
# 11 s); a hang is cut off well after that.
vm_timeout=180
boot_vm() {
  local initramfs="$1" log="$2" scenarios="$3" code=0
  timeout -k 5 "$vm_timeout" qemu-system-x86_64 -accel tcg -machine pc -m 512 -nographic \
    -no-reboot -net none -kernel "$vm_vmlinux" -initrd "$initramfs" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    -append "console=ttyS0 quiet panic=-1 scenarios=$scenarios" </dev/null 2>&1 | tr -d '\r' >"$log" ||
    code=${PIPESTATUS[0]}
  case "$code" in
    33) vm_verdict="the guest said pass" ;;
    35) vm_verdict="the guest said fail" ;;
    124 | 137) vm_verdict="no verdict within ${vm_timeout} s (a hang)" ;;
    *) vm_verdict="QEMU exited with $code, not a verdict of the guest" ;;
  esac
  [ "$code" -eq 33 ]
}

# The guest of the VM tier and the main job: the service, the test wheel, the probe, the SDL client
# and fftest (built by the vm preset first). fftest and the SDL client are dynamically linked:
# their libraries come along; SDL opens libudev by itself (its haptic side needs it even where no
# udev daemon runs, as in this guest).
build_guest_initramfs() {
  local bin="$root/build/vm" libudev
  libudev=$(ldconfig -p | awk '/libudev.so.1 .*x86-64/ { found = $NF } END { print found }')
  build_initramfs "$1" "$root/tests/vm/init" "$bin/linux/talvex-rumble" \
    "$bin/tools/uhid-wheel/uhid-wheel" "$bin/tests/vm/vm-probe" "$bin/tests/vm/sdl-client" \
    /usr/bin/fftest "$libudev"
}

# The guest's own lines from a console log: scenario headings, what they printed, and the reports
# the wheel recorded, each run of equal reports as one line (its first time, the bytes, how
# many), with the wheel's other events and the scenario's marks between them.
print_guest_output() {
  sed -n '/=== scenario /,$p' "$1" | sed 's/^.*=== scenario /=== scenario /' |
    grep -v '^guest: done$' | awk -F, '
      function flush() { if (n) printf "    %6d ms  %s  x%d\n", first, bytes, n; n = 0 }
      /^--- reports / { inside = 1; print "  reports (ms, report ID, motor B on, motor A x 2, 0; runs of equal ones):"; next }
      /^--- end$/ { flush(); inside = 0; next }
      !inside { print; next }
      /^ms,/ { next }
      /^# / {
        flush(); sub(/^# /, ""); split($0, w, " ")
        if (w[2] != "open" && w[2] != "close") printf "    %6d ms  (%s)\n", w[1], substr($0, length(w[1]) + 2)
        next
      }
      { b = $2 "," $3 "," $4 "," $5; if (n && b == bytes) { n++ } else { flush(); first = $1; bytes = b; n = 1 } }
    ' || true
}

# A scenario's record from a console log, as the wheel wrote it: record_of LOG SCENARIO
record_of() {
  sed -n "/^--- reports $2\$/,/^--- end\$/p" "$1" | sed '1d;$d'
}
