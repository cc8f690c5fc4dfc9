"""Real web servers for the tests: lighttpd, Apache httpd and nginx, each
started on a port of 127.0.0.1 with a configuration written into a private
folder, which also keeps its logs for failure messages:

    folder/NAME.conf          the configuration
    folder/NAME-output.log    what the server wrote to its standard streams
    folder/NAME-error.log     its error log (the configurations below)
"""

import os

from webstack import Server, find_server

APACHE_MODULES = "/usr/lib/apache2/modules"


def command(name, config, folder):
    if name == "lighttpd":
        return [find_server("lighttpd"), "-D", "-f", config]
    if name == "apache":
        return [find_server("apache2", "httpd"), "-f", config, "-DFOREGROUND"]
    # nginx logs to its built-in error log until it has read the configuration.
    return [find_server("nginx"), "-c", config, "-e",
            os.path.join(folder, "nginx-error.log")]


def start(name, folder, config, port):
    """Server name ("lighttpd", "apache" or "nginx") listening on port with
    the configuration text config; a webstack.Server."""
    path = os.path.join(folder, name + ".conf")
    with open(path, "w") as handle:
        handle.write(config)
    logs = [os.path.join(folder, name + kind) for kind in ("-output.log", "-error.log")]
    return Server(command(name, path, folder), port, logs[0], what=name, quote=logs)


def apache_config(folder, port, modules, body, user=None):
    """Apache httpd on 127.0.0.1:port with its run-time files in folder,
    loading modules (names without "mod_"), running its children as user,
    a (user, group) pair, when we are root (it refuses to run them as
    root), and denying everything that body does not grant."""
    lines = ["LoadModule %s_module %s/mod_%s.so" % (name, APACHE_MODULES, name)
             for name in modules]
    if user and os.geteuid() == 0:
        lines += ["User " + user[0], "Group " + user[1]]
    lines += ['ServerRoot "%s"' % folder, "ServerName 127.0.0.1",
              "Listen 127.0.0.1:%d" % port, 'PidFile "%s/apache.pid"' % folder,
              'ErrorLog "%s/apache-error.log"' % folder,
              'DefaultRuntimeDir "%s"' % folder, "Mutex file:%s default" % folder,
              "<Directory />", "  Require all denied", "</Directory>"]
    return "\n".join(lines) + "\n" + body


def nginx_config(folder, port, server, user=None, temp=False):
    """nginx in the foreground on 127.0.0.1:port, one worker (as user when
    we are root), with server the body of its server block; temp: its
    temporary files in folder too, for a user who may not write its own."""
    temps = ["client_body", "proxy", "fastcgi", "uwsgi", "scgi"] if temp else []
    for kind in temps:
        os.makedirs(os.path.join(folder, "nginx", kind), exist_ok=True)
    head = "user %s;\n" % user if user and os.geteuid() == 0 else ""
    return head + """daemon off;
worker_processes 1;
pid %(folder)s/nginx.pid;
error_log %(folder)s/nginx-error.log;
events { worker_connections 64; }
http {
access_log off;
%(temps)sserver {
    listen 127.0.0.1:%(port)d;
%(server)s}
}
""" % {"folder": folder, "port": port, "server": server,
       "temps": "".join("%s_temp_path %s/nginx/%s;\n" % (kind, folder, kind)
                        for kind in temps)}
