#!/usr/bin/env bash
# Starts or stops the mail servers the mail tests talk to: OpenSMTPD (plain SMTP,
# delivering into a Maildir) and Dovecot (POP3 with STLS and POP3S on that
# Maildir, and a submission service with STARTTLS on one port and TLS from the
# first byte on another, sign-in required, relaying into OpenSMTPD), all in the
# foreground mode as background processes on free loopback ports. The TLS
# services use a server certificate for "localhost" (and 127.0.0.1) signed by a
# certificate authority made for this start (DIR/work/ca.pem, in TQ_TEST_CA);
# DIR/work/other.pem and DIR/work/renewed.pem are two more certificates from the
# same authority, both for another name.
#
#   bash tests/mail/servers.sh start DIR   # writes DIR/env and DIR/*.pid
#   bash tests/mail/servers.sh stop DIR    # stops them by PID and waits
#
# DIR is a fresh folder (for example from mktemp -d under /tmp). The servers'
# configuration, logs and the Maildir live in DIR/work, which is made reachable
# by `nobody`: both servers refuse to deliver or read mail as root, so the test
# user is mapped to uid/gid 65534. Must run as root. OpenSMTPD keeps its queue
# and control socket at fixed paths; each start runs it in a mount namespace of
# its own with DIR/work/spool and a private /run over them, so several runs (two
# checkouts, a developer and CI) can each have their servers at once.
set -euo pipefail

MAIL_USER=tester
MAIL_PASSWORD=quill-secret
# A second account whose name and password hold characters beyond ASCII and
# beyond Windows-1252 (sent as UTF-8), with a mailbox of its own.
MAIL_USER2='łukasz'
MAIL_PASSWORD2='пароль-密码-Łódź'
MAIL_DOMAIN=test.local
NOBODY_UID=65534
NOBODY_GID=65534
SMTPD_SPOOL=/var/spool/smtpd

die() {
    echo "servers.sh: $*" >&2
    exit 1
}

usage() {
    echo "usage: bash tests/mail/servers.sh start|stop DIR" >&2
    exit 2
}

# True when something accepts TCP connections on 127.0.0.1:$1.
port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A loopback port nothing listens on, from the range above the usual ephemeral
# start so that it is unlikely to be taken by an outgoing connection meanwhile.
free_port() {
    local port tries=0
    while [ $tries -lt 200 ]; do
        port=$((20000 + RANDOM % 12000))
        tries=$((tries + 1))
        case " ${USED_PORT:-} " in *" $port "*) continue ;; esac
        if command -v ss >/dev/null 2>&1; then
            if ss -Htln "sport = :$port" 2>/dev/null | grep -q .; then continue; fi
        fi
        if port_open "$port"; then continue; fi
        echo "$port"
        return 0
    done
    die "no free loopback port found"
}

pid_alive() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null
}

# Waits (bounded) until the process is gone; returns 1 when it is still there.
wait_gone() {
    local pid=$1 tenths=$2 i=0
    while pid_alive "$pid"; do
        [ $i -ge "$tenths" ] && return 1
        sleep 0.1
        i=$((i + 1))
    done
    return 0
}

stop_pidfile() {
    local file=$1 pid
    [ -f "$file" ] || return 0
    pid=$(cat "$file" 2>/dev/null || true)
    if pid_alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        # Dovecot takes about 1.5 s to stop; allow well beyond that.
        if ! wait_gone "$pid" 100; then
            kill -KILL "$pid" 2>/dev/null || true
            wait_gone "$pid" 50 || echo "servers.sh: process $pid did not exit" >&2
        fi
    fi
    rm -f "$file"
}

do_stop() {
    local dir=$1
    [ -d "$dir" ] || return 0
    stop_pidfile "$dir/smtpd.pid"
    stop_pidfile "$dir/dovecot.pid"
}

# True when this machine lets a root process make a private mount namespace
# (unshare(1) with bind mounts); otherwise only one OpenSMTPD can run at a time.
private_mounts_work() {
    unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /mnt' >/dev/null 2>&1
}

# A test certificate authority and, signed by it, a certificate for
# localhost/127.0.0.1 and two for another name.
make_certificates() {
    local work=$1 name san cn
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -keyout "$work/ca-key.pem" -out "$work/ca.pem" -subj "/CN=Tarnquill Test CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
        >/dev/null 2>&1 || die "openssl could not make the test authority"
    for name in server other renewed; do
        san="DNS:localhost,IP:127.0.0.1"
        cn=localhost
        if [ "$name" != server ]; then san="DNS:other.quill.test"; cn=other.quill.test; fi
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
            -keyout "$work/$name-key.pem" -out "$work/$name.csr" -subj "/CN=$cn" \
            >/dev/null 2>&1 || die "openssl could not make a key"
        printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$san" > "$work/$name.ext"
        openssl x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca-key.pem" \
            -CAcreateserial -days 2 -extfile "$work/$name.ext" -out "$work/$name.pem" \
            >/dev/null 2>&1 || die "openssl could not sign a certificate"
    done
    chmod 0644 "$work"/*.pem
    chmod 0600 "$work"/*-key.pem
}

write_configs() {
    local work=$1 smtp_port=$2 pop3_port=$3 pop3s_port=$4 sub_port=$5 subs_port=$6

    mkdir -p "$work/Maildir/cur" "$work/Maildir/new" "$work/Maildir/tmp" \
             "$work/dovecot-run" "$work/dovecot-state"
    chown -R "$NOBODY_UID:$NOBODY_GID" "$work/Maildir"
    chmod 0700 "$work/Maildir"

    printf '%s@%s\n' "$MAIL_USER" "$MAIL_DOMAIN" > "$work/recipients"
    printf '%s %s:%s:%s\n' "$MAIL_USER" "$NOBODY_UID" "$NOBODY_GID" "$work" > "$work/userbase"
    chmod 0644 "$work/recipients" "$work/userbase"

    cat > "$work/smtpd.conf" <<EOF
table recipients file:$work/recipients
table ubase file:$work/userbase
listen on 127.0.0.1 port $smtp_port
action "deliver" maildir "$work/Maildir" userbase <ubase>
match from any for domain "$MAIL_DOMAIN" rcpt-to <recipients> action "deliver"
EOF
    chmod 0644 "$work/smtpd.conf"

    mkdir -p "$work/Maildir2/cur" "$work/Maildir2/new" "$work/Maildir2/tmp"
    chown -R "$NOBODY_UID:$NOBODY_GID" "$work/Maildir2"
    chmod 0700 "$work/Maildir2"
    {
        printf '%s:{PLAIN}%s:%s:%s::%s::\n' "$MAIL_USER" "$MAIL_PASSWORD" \
            "$NOBODY_UID" "$NOBODY_GID" "$work"
        printf '%s:{PLAIN}%s:%s:%s::%s::userdb_mail=maildir:%s\n' "$MAIL_USER2" "$MAIL_PASSWORD2" \
            "$NOBODY_UID" "$NOBODY_GID" "$work" "$work/Maildir2"
    } > "$work/passwd"
    chgrp dovecot "$work/passwd" 2>/dev/null || true
    chmod 0640 "$work/passwd"

    cat > "$work/dovecot.conf" <<EOF
base_dir = $work/dovecot-run
state_dir = $work/dovecot-state
log_path = $work/dovecot.log
protocols = pop3 submission
listen = 127.0.0.1
hostname = localhost
ssl = yes
ssl_cert = <$work/server.pem
ssl_key = <$work/server-key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login
# User names are not limited to ASCII letters (the second account).
auth_username_chars =
auth_failure_delay = 0s
first_valid_uid = 1
mail_location = maildir:$work/Maildir
submission_relay_host = 127.0.0.1
submission_relay_port = $smtp_port
submission_relay_ssl = no
submission_max_mail_size = 2M
passdb {
  driver = passwd-file
  args = scheme=PLAIN $work/passwd
}
userdb {
  driver = passwd-file
  args = $work/passwd
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop3_port
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $pop3s_port
    ssl = yes
  }
}
service submission-login {
  inet_listener submission {
    address = 127.0.0.1
    port = $sub_port
  }
  inet_listener submissions {
    address = 127.0.0.1
    port = $subs_port
    ssl = yes
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
EOF
    chmod 0644 "$work/dovecot.conf"
}

# Waits (bounded) until the port accepts connections while the process lives.
wait_listening() {
    local pid=$1 port=$2 name=$3 log=$4 i=0
    while ! port_open "$port"; do
        if ! pid_alive "$pid"; then
            echo "servers.sh: $name exited during start-up; its log:" >&2
            tail -n 30 "$log" >&2 2>/dev/null || true
            return 1
        fi
        if [ $i -ge 150 ]; then
            echo "servers.sh: $name does not accept connections on port $port; its log:" >&2
            tail -n 30 "$log" >&2 2>/dev/null || true
            return 1
        fi
        sleep 0.1
        i=$((i + 1))
    done
}

do_start() {
    local dir=$1
    [ "$(id -u)" -eq 0 ] || die "must run as root (the mail servers need it)"
    command -v smtpd >/dev/null 2>&1 || [ -x /usr/sbin/smtpd ] || die "smtpd not found (install opensmtpd)"
    command -v dovecot >/dev/null 2>&1 || [ -x /usr/sbin/dovecot ] || die "dovecot not found (install dovecot-core dovecot-pop3d)"
    [ -x /usr/lib/dovecot/submission ] || die "Dovecot's submission service not found (install dovecot-submissiond)"
    command -v openssl >/dev/null 2>&1 || die "openssl not found (install openssl)"
    export PATH="/usr/sbin:/sbin:$PATH"

    mkdir -p "$dir"
    # Servers of an earlier start with the same folder are stopped first.
    do_stop "$dir"
    local private=1
    if ! private_mounts_work; then
        private=0
        if pgrep -x smtpd >/dev/null 2>&1; then
            die "an OpenSMTPD (smtpd) is already running and this machine allows no private mount namespace; only one can run at a time"
        fi
    fi

    # The folder and the work folder must be reachable by nobody; every parent
    # up to / must be searchable too (true for /tmp).
    chmod 0755 "$dir"
    local work="$dir/work"
    rm -rf "$work"
    mkdir -p "$work"
    chmod 0755 "$work"

    local smtp_port pop3_port pop3s_port sub_port subs_port
    smtp_port=$(free_port)
    USED_PORT="$smtp_port"
    pop3_port=$(free_port)
    USED_PORT="$USED_PORT $pop3_port"
    pop3s_port=$(free_port)
    USED_PORT="$USED_PORT $pop3s_port"
    sub_port=$(free_port)
    USED_PORT="$USED_PORT $sub_port"
    subs_port=$(free_port)
    make_certificates "$work"
    write_configs "$work" "$smtp_port" "$pop3_port" "$pop3s_port" "$sub_port" "$subs_port"

    smtpd -n -f "$work/smtpd.conf" > "$work/smtpd-check.log" 2>&1 ||
        { cat "$work/smtpd-check.log" >&2; die "OpenSMTPD rejects its configuration"; }

    if [ $private -eq 1 ]; then
        # The queue folder must belong to root with mode 0711; OpenSMTPD makes
        # its sub-folders itself. unshare and sh exec into smtpd, so $! is its PID.
        # The mount point exists only once the packaged service has run, which
        # a machine whose package scripts may not start services never did.
        mkdir -p "$work/spool" "$SMTPD_SPOOL"
        chmod 0711 "$work/spool"
        unshare --mount --propagation private sh -c \
            'mount --bind "$1" "$3" && mount -t tmpfs -o mode=0755 tmpfs /run && exec smtpd -d -f "$2"' \
            sh "$work/spool" "$work/smtpd.conf" "$SMTPD_SPOOL" > "$work/smtpd.log" 2>&1 < /dev/null &
    else
        local sub
        for sub in queue corrupt incoming offline purge temporary; do
            if [ -d "$SMTPD_SPOOL/$sub" ]; then
                find "$SMTPD_SPOOL/$sub" -mindepth 1 -delete 2>/dev/null || true
            fi
        done
        rm -f /run/smtpd.sock 2>/dev/null || true
        smtpd -d -f "$work/smtpd.conf" > "$work/smtpd.log" 2>&1 < /dev/null &
    fi
    echo $! > "$dir/smtpd.pid"
    dovecot -F -c "$work/dovecot.conf" > "$work/dovecot-stdout.log" 2>&1 < /dev/null &
    echo $! > "$dir/dovecot.pid"

    local ok=1
    wait_listening "$(cat "$dir/smtpd.pid")" "$smtp_port" OpenSMTPD "$work/smtpd.log" || ok=0
    local port
    for port in "$pop3_port" "$pop3s_port" "$sub_port" "$subs_port"; do
        if [ $ok -eq 1 ]; then
            wait_listening "$(cat "$dir/dovecot.pid")" "$port" Dovecot "$work/dovecot.log" || ok=0
        fi
    done
    if [ $ok -eq 0 ]; then
        do_stop "$dir"
        die "the mail servers did not start"
    fi

    cat > "$dir/env" <<EOF
export TQ_SMTP_HOST=127.0.0.1
export TQ_SMTP_PORT=$smtp_port
export TQ_POP3_HOST=127.0.0.1
export TQ_POP3_PORT=$pop3_port
export TQ_MAIL_USER=$MAIL_USER
export TQ_MAIL_PASSWORD=$MAIL_PASSWORD
export TQ_MAIL_ADDRESS=$MAIL_USER@$MAIL_DOMAIN
export TQ_MAIL_USER2='$MAIL_USER2'
export TQ_MAIL_PASSWORD2='$MAIL_PASSWORD2'
export TQ_MAILDIR=$work/Maildir
export TQ_POP3S_PORT=$pop3s_port
export TQ_SUBMISSION_PORT=$sub_port
export TQ_SUBMISSIONS_PORT=$subs_port
export TQ_TEST_CA=$work/ca.pem
export TQ_CERT_FOLDER=$work
EOF
    echo "Mail servers running: SMTP 127.0.0.1:$smtp_port, POP3 127.0.0.1:$pop3_port (STLS)," \
         "POP3S $pop3s_port, submission $sub_port (STARTTLS) and $subs_port (TLS) (state in $dir)"
}

[ $# -eq 2 ] || usage
case "$1" in
    start) do_start "$2" ;;
    stop) do_stop "$2" ;;
    *) usage ;;
esac
